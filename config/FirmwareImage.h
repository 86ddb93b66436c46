#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A firmware image is the raw content of its file: no header, no checksum, any length that fits a
// 32-bit count. The bytes are shared so that the image outlives a closed download window until
// the worker has finished with it.
struct FirmwareImage {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;

    std::uint32_t size() const { return bytes ? static_cast<std::uint32_t>(bytes->size()) : 0; }
};

enum class ImageLoadResult { Ok, CannotOpen };

// Ok only for a regular file read whole; a missing or unreadable file, a folder, a short read, a
// file of 4 GiB or more, or one too large for memory is CannotOpen. out is changed only on Ok.
ImageLoadResult LoadFirmwareImage(const std::string& path, FirmwareImage& out);

// The rejection text for a file that cannot be used: the log line of a configuration load and the
// message box of a firmware download (with its trailing blank).
std::string BadFileMessage(const std::string& path);
