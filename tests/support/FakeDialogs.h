// Answers file dialogs and message boxes from a script and records them.
#pragma once

#include <QList>
#include <QStringList>
#include <deque>

#include "ui/Dialogs.h"

class FakeDialogs : public Dialogs {
public:
    FakeDialogs() { SetAppDialogs(this); }
    ~FakeDialogs() override { SetAppDialogs(nullptr); }

    // Scripted answers, used in order; an empty queue answers "cancel" / No.
    std::deque<QString> openAnswers;
    std::deque<QString> saveAnswers;
    std::deque<bool> yesNoAnswers;

    // What was shown.
    QStringList openTitles, openFilters, saveFilters, questions, messages;
    QList<QWidget*> dialogParents;  // of every file dialog and message box, in order

    QString openFile(QWidget* parent, const QString& title, const QString& filter) override {
        dialogParents << parent;
        openTitles << title;
        openFilters << filter;
        return take(openAnswers, QString());
    }
    QString saveFile(QWidget* parent, const QString& filter) override {
        dialogParents << parent;
        saveFilters << filter;
        return take(saveAnswers, QString());
    }
    bool askYesNo(QWidget*, const QString& question) override {
        questions << question;
        return take(yesNoAnswers, false);
    }
    void message(QWidget* parent, const QString& text) override {
        dialogParents << parent;
        messages << text;
    }

private:
    template <class T>
    static T take(std::deque<T>& queue, T fallback) {
        if (queue.empty()) return fallback;
        T front = queue.front();
        queue.pop_front();
        return front;
    }
};
