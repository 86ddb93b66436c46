#include "shell/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <memory>

namespace {
Dialogs* installed = nullptr;
}

Dialogs& AppDialogs() {
    static QtDialogs qtDialogs;
    return installed ? *installed : qtDialogs;
}

void SetAppDialogs(Dialogs* dialogs) {
    installed = dialogs;
}

QString QtDialogs::openFile(QWidget* parent, const QString& title, const QString& filter) {
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setFileMode(QFileDialog::AnyFile);  // a name of a missing file is accepted
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString QtDialogs::saveFile(QWidget* parent, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, QString(), QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QMessageBox* MakeQuestionBox(QWidget* parent, const QString& question) {
    auto* box = new QMessageBox(QMessageBox::Question, QApplication::applicationName(), question,
                                QMessageBox::Yes | QMessageBox::No, parent);
    return box;
}

bool QtDialogs::askYesNo(QWidget* parent, const QString& question) {
    std::unique_ptr<QMessageBox> box(MakeQuestionBox(parent, question));
    return box->exec() != QMessageBox::No;
}

void QtDialogs::message(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QApplication::applicationName(), text);
}
