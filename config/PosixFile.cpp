#include "config/PosixFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileDescriptor::close() {
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

namespace {

constexpr int kMaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links to the file they finally name, which need not exist yet.
// Empty when the chain does not end.
std::string FinalTarget(std::string path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<std::size_t>(length) >= link.size()) return {};
        link.resize(static_cast<std::size_t>(length));
        path = link.front() == '/' ? link : FolderOf(path) + "/" + link;
    }
    return {};
}

// A name in the target's folder that no one else uses; hidden, so that a file list shows no
// half-written file.
int CreateTemporaryBeside(const std::string& target, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = FolderOf(target) + "/." + NameOf(target) + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter++) + ".tmp";
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The replacement keeps the mode and, where allowed, the owner of the file it replaces.
void CopyOwnership(int fd, const struct stat& old) {
    ::fchmod(fd, old.st_mode & 07777);
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Only the owner of the old file may hand it on; the mode is kept all the same.
    }
}

// Makes the rename itself durable; file systems that cannot sync a folder are no failure.
void SyncFolder(const std::string& folder) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
}

AtomicWriteResult WriteInPlace(const std::string& path, const std::uint8_t* data,
                               std::size_t count) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) return AtomicWriteResult::CannotCreate;
    const bool written = WriteFully(file.get(), data, count);
    return file.close() && written ? AtomicWriteResult::Ok : AtomicWriteResult::WriteFailed;
}

}  // namespace

AtomicWriteResult WriteFileAtomically(const std::string& path, const std::uint8_t* data,
                                      std::size_t count) {
    const std::string target = FinalTarget(path);
    if (target.empty() || target.back() == '/') return AtomicWriteResult::CannotCreate;
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return WriteInPlace(target, data, count);
    // A file its owner made read-only stays as it is, as it would for a plain write.
    if (exists && ::access(target.c_str(), W_OK) != 0) return AtomicWriteResult::CannotCreate;

    std::string temporary;
    FileDescriptor file(CreateTemporaryBeside(target, temporary));
    if (!file.valid()) return AtomicWriteResult::CannotCreate;
    if (exists) CopyOwnership(file.get(), old);
    const bool durable = WriteFully(file.get(), data, count) && ::fsync(file.get()) == 0;
    if (file.close() && durable && ::rename(temporary.c_str(), target.c_str()) == 0) {
        SyncFolder(FolderOf(target));
        return AtomicWriteResult::Ok;
    }
    ::unlink(temporary.c_str());
    return AtomicWriteResult::WriteFailed;
}
