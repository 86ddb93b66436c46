// The commands of the menus "Файл" and "Задачи": configuration files and the
// board transfers, which only open their progress windows.
#include <QFile>

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

void TFDevice::MFileOpenClick() {
    const QString prefix = logPrefix();
    if (hasConfig_) {
        if (!AppDialogs().askYesNo(this, "Закрыть текущее устройство ?")) return;
        CloseDevice();
    }
    const QString name = AppDialogs().openFile(this, "Открыть", kConfigFilter);
    if (name.isEmpty()) return;
    fileName_ = name;
    ConfigSnapshot loaded;
    if (LoadConfigFile(localPath(name), *crc_, loaded) != LoadResult::Ok) {
        appendLog(prefix, QString::fromStdString(BadFileMessage(name.toStdString())));
        return;
    }
    InstallConfig(loaded.data());
    appendLog(prefix, "Конфигурация К350 загружена");
}

void TFDevice::MFileCloseClick() {
    CloseDevice();
}

void TFDevice::MFileSaveClick() {
    const QString prefix = logPrefix();
    if (!hasConfig_) return;
    if (SaveToFile(fileName_)) appendLog(prefix, "Файл сохранен " + fileName_);
}

void TFDevice::MFileSaveAsClick() {
    const QString prefix = logPrefix();
    if (!hasConfig_) return;
    const QString name = AppDialogs().saveFile(this, kConfigFilter);
    if (name.isEmpty()) return;
    fileName_ = name;
    if (SaveToFile(fileName_)) appendLog(prefix, "Файл сохранен " + fileName_);
}

// The file gets the refreshed CRC word; FConfig takes it too once the file
// exists. A write that fails after creation is reported like a failed creation.
bool TFDevice::SaveToFile(const QString& name) {
    ConfigSnapshot refreshed = *config_;
    RefreshCrc(*crc_, refreshed);
    const SaveResult result = SaveConfigFile(localPath(name), refreshed);
    if (result != SaveResult::CannotCreate) {
        std::copy_n(refreshed.bytes.begin(), ConfigLength::Crc, config_->bytes.begin());
    }
    if (result != SaveResult::Ok) {
        AppDialogs().message(this, "Файл " + name + " не удается создать");
        return false;
    }
    return true;
}

void TFDevice::MTaskGetClick() {
    if (auto* open = WindowRegistry::find<TFRead>(WindowId::FRead)) return bringToFront(open);
    if (hasConfig_) {
        if (!AppDialogs().askYesNo(this,
                                   "Не сохраненные данные будут утеряны. Прочитать устройство?")) {
            return;
        }
        CloseDevice();
    }
    showTaskWindow(new TFRead);
}

void TFDevice::MTaskSetClick() {
    if (auto* open = WindowRegistry::find<TFSave>(WindowId::FSave)) return bringToFront(open);
    if (!hasConfig_) return;
    refreshCrc();
    showTaskWindow(new TFSave);
}

void TFDevice::refreshCrc() {
    RefreshCrc(*crc_, *config_);
}

void TFDevice::CloseDevice() {
    closeAllTaskWindows();
    if (!hasConfig_) return;
    hasConfig_ = false;
    fileName_ = kDefaultFileName;
    setConfigCommandsEnabled(false);
    BuildTree();
}
