#include "config/PosixFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileDescriptor::Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

int OpenForReading(const char* path) {
    return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

bool IsRegularFile(int fd, off_t* size) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (size) *size = info.st_size;
    return true;
}

std::size_t ReadFully(int fd, std::uint8_t* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, buffer + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool WriteFully(int fd, const std::uint8_t* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(fd, buffer + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}
