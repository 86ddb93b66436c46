#include "config/FirmwareImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <new>
#include <stdexcept>

namespace {

constexpr std::uint64_t kMaxImageSize = std::numeric_limits<std::uint32_t>::max();

struct ScopedFd {
    int fd;
    ~ScopedFd() {
        if (fd >= 0) ::close(fd);
    }
};

bool ReadExactly(int fd, std::uint8_t* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, buffer + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

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

// O_NONBLOCK: a FIFO named by the user must not hang the open; only regular files are used.
ImageLoadResult LoadFirmwareImage(const std::string& path, FirmwareImage& out) {
    const ScopedFd file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return ImageLoadResult::CannotOpen;
    }
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > kMaxImageSize) {
        return ImageLoadResult::CannotOpen;
    }
    auto buffer = Allocate(static_cast<std::size_t>(info.st_size));
    if (!buffer || !ReadExactly(file.fd, buffer->data(), buffer->size())) {
        return ImageLoadResult::CannotOpen;
    }
    out.bytes = std::move(buffer);
    return ImageLoadResult::Ok;
}

std::string BadFileMessage(const std::string& path) {
    return "Файл " + path + " поврежден, либо не соответствует данному устройству ";
}
