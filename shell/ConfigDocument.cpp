#include "shell/ConfigDocument.h"

#include <algorithm>

const char* const kDefaultFileName = "K350xx.kcf";

ConfigDocument::ConfigDocument()
    : crc_(std::make_unique<TCrc>()),
      snapshot_(std::make_unique<ConfigSnapshot>()),
      fileName_(kDefaultFileName) {}

void ConfigDocument::install(const std::uint8_t* snapshotBytes) {
    std::copy(snapshotBytes, snapshotBytes + kSnapshotSize, snapshot_->bytes.begin());
    hasConfig_ = true;
}

void ConfigDocument::discard() {
    hasConfig_ = false;
    fileName_ = kDefaultFileName;
}

void ConfigDocument::makeBlank(const std::string& todayDate) {
    *snapshot_ = MakeBlankSnapshot(*crc_, todayDate);
    hasConfig_ = true;
}

std::shared_ptr<const std::vector<std::uint8_t>> ConfigDocument::writeCopy() const {
    const std::uint32_t count = WriteExtent(level_);
    return std::make_shared<const std::vector<std::uint8_t>>(snapshot_->bytes.begin(),
                                                             snapshot_->bytes.begin() + count);
}

SaveResult ConfigDocument::saveTo(const std::string& path) {
    ConfigSnapshot refreshed = *snapshot_;
    RefreshCrc(*crc_, refreshed);
    const SaveResult result = SaveConfigFile(path, refreshed);
    if (result != SaveResult::CannotCreate) {
        std::copy_n(refreshed.bytes.begin(), ConfigLength::Crc, snapshot_->bytes.begin());
    }
    return result;
}
