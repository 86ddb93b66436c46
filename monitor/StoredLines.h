// A multi-line text field of the record as an edit shows it. Each stored line break (CR LF, a lone
// LF or a lone CR) shows as one new line and keeps its stored form through edits elsewhere in the
// text, so a text nobody touched goes back as it came and its length is its stored length.
#pragma once

#include <QList>
#include <QString>
#include <vector>

class StoredLines {
public:
    StoredLines() = default;
    static StoredLines fromStored(const QString& stored);

    const QString& shown() const { return shown_; }
    // The shown text with each new line in its stored form; one typed anew is CR LF.
    QString stored() const;
    // Bytes the stored form takes: one per character, one or two per line break.
    qsizetype storedLength() const;
    // These lines after an edit that turned shown() into edited: the breaks in the untouched
    // beginning and end keep their form.
    StoredLines edited(const QString& edited) const;

private:
    QString shown_;
    std::vector<QString> breaks_;  // one per '\n' of shown_, in order
};
