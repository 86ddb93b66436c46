#include "monitor/StoredLines.h"

#include <algorithm>

namespace {
const QString kCrLf = QStringLiteral("\r\n");

qsizetype newLinesIn(QStringView text) {
    return text.count(QLatin1Char('\n'));
}
}  // namespace

StoredLines StoredLines::fromStored(const QString& stored) {
    StoredLines lines;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QChar c = stored[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) {
            lines.shown_ += c;
            continue;
        }
        const bool crLf =
            c == QLatin1Char('\r') && i + 1 < stored.size() && stored[i + 1] == QLatin1Char('\n');
        lines.breaks_.push_back(crLf ? kCrLf : QString(c));
        if (crLf) ++i;
        lines.shown_ += QLatin1Char('\n');
    }
    return lines;
}

QString StoredLines::stored() const {
    QString text;
    std::size_t next = 0;
    for (const QChar c : shown_) {
        if (c != QLatin1Char('\n')) {
            text += c;
        } else {
            text += next < breaks_.size() ? breaks_[next] : kCrLf;
            ++next;
        }
    }
    return text;
}

// A character outside the Basic Multilingual Plane is still one byte (it is stored as '?').
qsizetype StoredLines::storedLength() const {
    qsizetype length = qsizetype(shown_.toUcs4().size()) - newLinesIn(shown_);
    for (const QString& lineBreak : breaks_) length += lineBreak.size();
    return length;
}

StoredLines StoredLines::edited(const QString& edited) const {
    const qsizetype shorter = std::min(shown_.size(), edited.size());
    qsizetype prefix = 0;
    while (prefix < shorter && shown_[prefix] == edited[prefix]) ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           shown_[shown_.size() - 1 - suffix] == edited[edited.size() - 1 - suffix]) {
        ++suffix;
    }
    const auto keptBefore = std::size_t(newLinesIn(QStringView(shown_).left(prefix)));
    const auto keptAfter = std::size_t(newLinesIn(QStringView(shown_).right(suffix)));
    const auto typed =
        std::size_t(newLinesIn(QStringView(edited).mid(prefix, edited.size() - prefix - suffix)));

    StoredLines result;
    result.shown_ = edited;
    result.breaks_.assign(breaks_.begin(), breaks_.begin() + keptBefore);
    result.breaks_.insert(result.breaks_.end(), typed, kCrLf);
    result.breaks_.insert(result.breaks_.end(), breaks_.end() - keptAfter, breaks_.end());
    return result;
}
