#include "shell/FileCommands.h"

#include <QFile>
#include <QFileInfo>

#include "config/ConfigFile.h"
#include "config/FirmwareImage.h"
#include "shell/DeviceForm.h"
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
    const QString prefix = TFDevice::logPrefix();
    if (main_.hasConfig()) {
        // verbatim: the space before "?"
        if (!AppDialogs().askYesNo(&main_, "Закрыть текущее устройство ?")) return;
        main_.CloseDevice();
    }
    const QString name = AppDialogs().openFile(&main_, "Открыть", kConfigFilter);
    if (name.isEmpty()) return;
    main_.setFileName(name);
    ConfigSnapshot loaded;
    if (LoadConfigFile(localPath(name), main_.crc(), loaded) != LoadResult::Ok) {
        main_.appendLog(prefix, QString::fromStdString(BadFileMessage(name.toStdString())));
        return;
    }
    main_.InstallConfig(loaded.data());
    // verbatim: "К350" in Cyrillic letters
    main_.appendLog(prefix, "Конфигурация К350 загружена");
}

namespace {
// The full path: the default name is saved in the program's working folder.
QString savedLine(const QString& name) {
    return "Файл сохранен " + QFileInfo(name).absoluteFilePath();
}
}  // namespace

void FileCommands::save() {
    const QString prefix = TFDevice::logPrefix();
    if (!main_.hasConfig()) return;
    if (saveToFile(main_.fileName())) main_.appendLog(prefix, savedLine(main_.fileName()));
}

void FileCommands::saveAs() {
    const QString prefix = TFDevice::logPrefix();
    if (!main_.hasConfig()) return;
    const QString name = AppDialogs().saveFile(&main_, kConfigFilter);
    if (name.isEmpty()) return;
    main_.setFileName(name);
    if (saveToFile(name)) main_.appendLog(prefix, savedLine(name));
}

bool FileCommands::saveToFile(const QString& name) {
    if (main_.document().saveTo(localPath(name)) != SaveResult::Ok) {
        // verbatim: users know this text from the configuration save
        AppDialogs().message(&main_, "Файл " + name + " не удается создать");
        return false;
    }
    return true;
}

void FileCommands::readDevice() {
    if (auto* open = WindowRegistry::Find<TFRead>(WindowId::FRead)) {
        return TFDevice::bringToFront(open);
    }
    if (main_.hasConfig()) {
        // verbatim: "Не сохраненные" in two words
        if (!AppDialogs().askYesNo(&main_,
                                   "Не сохраненные данные будут утеряны. Прочитать устройство?")) {
            return;
        }
        main_.CloseDevice();
    }
    main_.showTaskWindow(new TFRead);
}

void FileCommands::writeDevice() {
    if (auto* open = WindowRegistry::Find<TFSave>(WindowId::FSave)) {
        return TFDevice::bringToFront(open);
    }
    if (!main_.hasConfig()) return;
    main_.document().refreshCrc();
    main_.showTaskWindow(new TFSave);
}
