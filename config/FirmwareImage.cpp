#include "config/FirmwareImage.h"

#include <limits>
#include <new>
#include <stdexcept>

#include "config/PosixFile.h"

namespace {

constexpr std::uint64_t kMaxImageSize = std::numeric_limits<std::uint32_t>::max();

// The buffer of the file's size, or null when memory cannot hold it.
std::shared_ptr<std::vector<std::uint8_t>> Allocate(std::size_t size) {
    try {
        return std::make_shared<std::vector<std::uint8_t>>(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

}  // namespace

// Only regular files are used.
ImageLoadResult LoadFirmwareImage(const std::string& path, FirmwareImage& out) {
    const FileDescriptor file(OpenForReading(path.c_str()));
    off_t size = 0;
    if (!file.valid() || !IsRegularFile(file.get(), &size)) return ImageLoadResult::CannotOpen;
    if (size < 0 || static_cast<std::uint64_t>(size) > kMaxImageSize) {
        return ImageLoadResult::CannotOpen;
    }
    auto buffer = Allocate(static_cast<std::size_t>(size));
    if (!buffer || ReadFully(file.get(), buffer->data(), buffer->size()) != buffer->size()) {
        return ImageLoadResult::CannotOpen;
    }
    out.bytes = std::move(buffer);
    return ImageLoadResult::Ok;
}

std::string BadFileMessage(const std::string& path) {
    return "Файл " + path + " поврежден, либо не соответствует данному устройству ";
}
