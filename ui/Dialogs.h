// File dialogs and message boxes, behind a seam so tests answer them without
// modal loops.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QFileDialog;
class QWidget;

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Filters as caption and patterns in turn, separated by '|': "K350 конфигурация (*.kcf)|*.kcf|
    // все файлы|*". The user sees the captions only. An empty result means the dialog was
    // cancelled.
    virtual QString openFile(QWidget* parent, const QString& title, const QString& filter) = 0;
    virtual QString saveFile(QWidget* parent, const QString& filter) = 0;
    virtual bool askYesNo(QWidget* parent, const QString& question) = 0;  // true: Yes
    virtual void message(QWidget* parent, const QString& text) = 0;
};

class QtDialogs : public Dialogs {
public:
    QString openFile(QWidget* parent, const QString& title, const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& filter) override;
    bool askYesNo(QWidget* parent, const QString& question) override;
    void message(QWidget* parent, const QString& text) override;

    // The dialog both file commands show. It starts in the folder of the last file chosen (the
    // current folder at first) and keeps nothing of Qt's own: no history, no settings file.
    static std::unique_ptr<QFileDialog> makeFileDialog(QWidget* parent, const QString& title,
                                                       const QString& filter);
    // The filters of a '|'-separated list in the form of Qt's dialog, whose pattern part the
    // dialog hides: "K350 конфигурация (*.kcf) (*.kcf)", "все файлы (*)".
    static QStringList nameFilters(const QString& filter);

private:
    static QString chosen(QFileDialog& dialog);
};

// The question box askYesNo shows: the question with the two buttons Yes and No.
class QMessageBox;
QMessageBox* MakeQuestionBox(QWidget* parent, const QString& question);

// A name chosen in a save dialog and typed without an extension gets the default one
// (".csv", ".txt"); a name with any extension stays as typed.
QString WithDefaultSuffix(const QString& path, const QString& suffix);

// The dialogs every window uses; QtDialogs unless a test installs its own.
Dialogs& AppDialogs();
void SetAppDialogs(Dialogs* dialogs);  // nullptr restores QtDialogs
