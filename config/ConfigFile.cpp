#include "config/ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

// Closes the descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded (it can report a delayed write error).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool IsRegularFile(int fd, off_t* size = nullptr) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (size) *size = info.st_size;
    return true;
}

// Reads until count bytes, end of file or an error; returns the bytes read.
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

}  // namespace

// O_NONBLOCK: a FIFO named by the user must not hang the open; only regular files are used.
LoadResult LoadConfigFile(const std::string& path, const TCrc& crc, ConfigSnapshot& out) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    off_t size = 0;
    if (!file.valid() || !IsRegularFile(file.get(), &size)) return LoadResult::CannotOpen;
    if (size != static_cast<off_t>(kSnapshotSize)) return LoadResult::WrongSize;

    // One byte more than a snapshot, to notice a file that grew since it was measured.
    std::array<std::uint8_t, kSnapshotSize + 1> buffer{};
    const std::size_t got = ReadFully(file.get(), buffer.data(), buffer.size());
    if (got < kSnapshotSize) return LoadResult::ShortRead;
    if (got > kSnapshotSize) return LoadResult::WrongSize;

    ConfigSnapshot loaded;
    std::copy_n(buffer.begin(), kSnapshotSize, loaded.bytes.begin());
    if (StoredCrc(loaded) != ComputeCrc(crc, loaded)) return LoadResult::BadCrc;
    out = loaded;
    return LoadResult::Ok;
}

SaveResult SaveConfigFile(const std::string& path, const ConfigSnapshot& snapshot) {
    FileDescriptor file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!file.valid()) return SaveResult::CannotCreate;
    const bool regular = IsRegularFile(file.get());
    const bool written = WriteFully(file.get(), snapshot.data(), kSnapshotSize);
    if (file.Close() && written) return SaveResult::Ok;
    // Never remove anything but a plain file (the path may name a device).
    if (regular) std::remove(path.c_str());
    return SaveResult::WriteFailed;
}
