#include "ui/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
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

namespace {
QString lastFolder;

// The terminal keeps no settings, but Qt's file dialog saves its history and last folder in a
// settings file of its own when it is destroyed, and cannot be told not to. Its settings are sent
// where no file can be made: a path below a device.
void KeepQtFromStoringSettings() {
    static const bool redirected = [] {
        for (auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
            QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
        }
        return true;
    }();
    (void)redirected;
}
}  // namespace

QStringList QtDialogs::nameFilters(const QString& filter) {
    if (!filter.contains(QLatin1Char('|'))) return filter.split(";;");  // already in Qt's form
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        filters << parts[i] + " (" + patterns.replace(QLatin1Char(';'), QLatin1Char(' ')) + ")";
    }
    return filters;
}

std::unique_ptr<QFileDialog> QtDialogs::makeFileDialog(QWidget* parent, const QString& title,
                                                       const QString& filter) {
    KeepQtFromStoringSettings();
    auto dialog = std::make_unique<QFileDialog>(parent, title);
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setNameFilters(nameFilters(filter));
    dialog->setHistory({});
    dialog->setDirectory(lastFolder.isEmpty() ? QDir::currentPath() : lastFolder);
    return dialog;
}

QString QtDialogs::chosen(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString name = dialog.selectedFiles().first();
    lastFolder = QFileInfo(name).absolutePath();
    return name;
}

QString QtDialogs::openFile(QWidget* parent, const QString& title, const QString& filter) {
    auto dialog = makeFileDialog(parent, title, filter);
    dialog->setFileMode(QFileDialog::AnyFile);  // a name of a missing file is accepted
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    return chosen(*dialog);
}

QString QtDialogs::saveFile(QWidget* parent, const QString& filter) {
    auto dialog = makeFileDialog(parent, QString(), filter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    return chosen(*dialog);
}

QString WithDefaultSuffix(const QString& path, const QString& suffix) {
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty() || path.endsWith('.')) return path;
    return path + suffix;
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
