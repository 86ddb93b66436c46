#include "shell/FileCommands.h"

#include <QFile>
#include <QFileInfo>

#include "config/ConfigFile.h"
#include "config/FirmwareImage.h"
#include "shell/ConfigDocument.h"
#include "shell/ShellWindow.h"
#include "transfer/ReadForm.h"
#include "transfer/SaveForm.h"
#include "ui/Dialogs.h"

namespace {
const char* const kConfigFilter = "K350 конфигурация (*.kcf)|*.kcf|все файлы|*";

std::string localPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}
}  // namespace

void FileCommands::open() {
    const QString prefix = LogPrefix();
    if (document_.hasConfig()) {
        // verbatim: the space before "?"
        if (!AppDialogs().askYesNo(window_.dialogParent(), "Закрыть текущее устройство ?")) return;
        window_.CloseDevice();
    }
    const QString name = AppDialogs().openFile(window_.dialogParent(), "Открыть", kConfigFilter);
    if (name.isEmpty()) return;
    document_.setFileName(name);
    ConfigSnapshot loaded;
    if (LoadConfigFile(localPath(name), document_.crc(), loaded) != LoadResult::Ok) {
        window_.appendLog(prefix, QString::fromStdString(BadFileMessage(name.toStdString())));
        return;
    }
    window_.InstallConfig(loaded.data());
    // verbatim: "К350" in Cyrillic letters
    window_.appendLog(prefix, "Конфигурация К350 загружена");
}

namespace {
// The full path: the default name is saved in the program's working folder.
QString savedLine(const QString& name) {
    return "Файл сохранен " + QFileInfo(name).absoluteFilePath();
}
}  // namespace

void FileCommands::save() {
    const QString prefix = LogPrefix();
    if (!document_.hasConfig()) return;
    if (saveToFile(document_.fileName()))
        window_.appendLog(prefix, savedLine(document_.fileName()));
}

void FileCommands::saveAs() {
    const QString prefix = LogPrefix();
    if (!document_.hasConfig()) return;
    const QString name = AppDialogs().saveFile(window_.dialogParent(), kConfigFilter);
    if (name.isEmpty()) return;
    document_.setFileName(name);
    if (saveToFile(name)) window_.appendLog(prefix, savedLine(name));
}

bool FileCommands::saveToFile(const QString& name) {
    if (document_.saveTo(localPath(name)) != SaveResult::Ok) {
        // verbatim: users know this text from the configuration save
        AppDialogs().message(window_.dialogParent(), "Файл " + name + " не удается создать");
        return false;
    }
    return true;
}

void FileCommands::readDevice() {
    if (auto* open = WindowRegistry::Find<TFRead>(WindowId::FRead)) {
        return window_.bringToFront(open);
    }
    if (document_.hasConfig()) {
        // verbatim: "Не сохраненные" in two words
        if (!AppDialogs().askYesNo(window_.dialogParent(),
                                   "Не сохраненные данные будут утеряны. Прочитать устройство?")) {
            return;
        }
        window_.CloseDevice();
    }
    window_.showTaskWindow(new TFRead);
}

void FileCommands::writeDevice() {
    if (auto* open = WindowRegistry::Find<TFSave>(WindowId::FSave)) {
        return window_.bringToFront(open);
    }
    if (!document_.hasConfig()) return;
    document_.refreshCrc();
    window_.showTaskWindow(new TFSave);
}
