// File dialogs and message boxes, behind a seam so tests answer them without
// modal loops.
#pragma once

#include <QString>

class QWidget;

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Filters in Qt's form ("K350 конфигурация (*.kcf);;все файлы (*.*)").
    // An empty result means the dialog was cancelled.
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
};

// The question box askYesNo shows: the question with the two buttons Yes and No.
class QMessageBox;
QMessageBox* MakeQuestionBox(QWidget* parent, const QString& question);

// The dialogs every window uses; QtDialogs unless a test installs its own.
Dialogs& AppDialogs();
void SetAppDialogs(Dialogs* dialogs);  // nullptr restores QtDialogs
