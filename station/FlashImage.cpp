#include "station/FlashImage.h"

#include <memory>
#include <vector>

#include "config/PosixFile.h"
#include "link/SpiFlash.h"
#include "store/StoreText.h"

std::string LoadFlashImage(const std::string& path, FirmwareImage& image) {
    const std::string cannotOpen = "file " + Quoted(path) + " cannot be opened";
    const FileDescriptor file(OpenForReading(path.c_str()));
    off_t size = 0;
    if (!file.valid() || !IsRegularFile(file.get(), &size)) return cannotOpen;
    if (size == 0 || size > off_t(SpiFlash::ProgramLimit)) {
        return "image " + Quoted(path) + " is " + std::to_string(size) +
               " bytes; the flash takes 1 to " + std::to_string(SpiFlash::ProgramLimit);
    }
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::size_t(size));
    // A file that shrank after its size was taken is not the image it claimed to be.
    if (ReadFully(file.get(), bytes->data(), bytes->size()) != bytes->size()) return cannotOpen;
    image.bytes = std::move(bytes);
    return {};
}
