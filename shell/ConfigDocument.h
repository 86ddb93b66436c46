// The main window's document: the current configuration, its file name, the service level and
// the CRC calculator. The snapshot's storage stays put for the document's life, so the windows
// that hold its blocks keep valid references when a new configuration is installed.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "config/ConfigImage.h"
#include "config/Crc.h"
#include "config/ServiceLevel.h"

class ConfigDocument {
public:
    ConfigDocument();

    bool hasConfig() const { return hasConfig_; }
    ConfigSnapshot& snapshot() { return *snapshot_; }
    const TCrc& crc() const { return *crc_; }
    std::uint8_t model() const { return snapshot_->model(); }
    const QString& fileName() const { return fileName_; }
    void setFileName(const QString& name) { fileName_ = name; }
    ServiceLevel level() const { return level_; }
    void setLevel(ServiceLevel level) { level_ = level; }

    // The blocks the windows edit, in the document's own storage: valid for the document's
    // life, whatever is installed later.
    CodecBlock codecBlock() { return snapshot_->codec(); }
    VocoderBlock vocoderBlock() { return snapshot_->vocoder(); }
    RecorderBlock recorderBlock() { return snapshot_->recorder(); }
    AmplifierBlock amplifierBlock() { return snapshot_->amplifier(); }
    UartBlock uartBlock() { return snapshot_->uart(); }
    BoardInfoBlock boardInfoBlock() { return snapshot_->boardInfo(); }
    DeviceIdsView deviceIds() const { return snapshot_->deviceIds(); }
    // The CRC word as stored, refreshed or not.
    std::uint16_t storedCrc() const { return StoredCrc(*snapshot_); }

    // Copies 156 bytes into the existing storage.
    void install(const std::uint8_t* snapshotBytes);
    // Without a configuration, under the default file name.
    void discard();
    void makeBlank(const std::string& todayDate);
    void refreshCrc() { RefreshCrc(*crc_, *snapshot_); }
    // The bytes a configuration write sends at the current level, copied now so that closing or
    // editing the configuration during the write changes nothing of them.
    std::shared_ptr<const std::vector<std::uint8_t>> writeCopy() const;
    // The file gets the refreshed CRC word; the document takes it too once the file exists.
    SaveResult saveTo(const std::string& path);

private:
    std::unique_ptr<TCrc> crc_;
    std::unique_ptr<ConfigSnapshot> snapshot_;
    bool hasConfig_ = false;
    QString fileName_;
    ServiceLevel level_ = ServiceLevel::User;
};

extern const char* const kDefaultFileName;  // "K350xx.kcf"
