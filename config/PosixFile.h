#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Byte-exact file access shared by the configuration and firmware files.

// Owns a file descriptor and closes it on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded (it can report a delayed write error).
    bool close();

private:
    int fd_;
};

// Opens for reading; O_NONBLOCK so that a FIFO named by the user cannot hang the open.
int OpenForReading(const char* path);
// True for a regular file; its size goes to size when given.
bool IsRegularFile(int fd, off_t* size = nullptr);
// Reads until count bytes, end of file or an error; returns the bytes read.
std::size_t ReadFully(int fd, std::uint8_t* buffer, std::size_t count);
// Writes all count bytes; false on an error or a write that makes no progress.
bool WriteFully(int fd, const std::uint8_t* buffer, std::size_t count);

enum class AtomicWriteResult { Ok, CannotCreate, WriteFailed };

// Replaces the file at path with the count bytes so that a failure at any step leaves the old
// file as it was: the bytes go to a temporary file in the same folder, are flushed to disk and
// the temporary is renamed over the target. A symbolic link keeps pointing where it did; the
// file it points to is replaced. An existing target that is no regular file (a device) is
// written in place, since there is nothing to keep. CannotCreate: the temporary (or the device)
// cannot be opened; WriteFailed: a later step failed. No temporary is left behind on failure.
AtomicWriteResult WriteFileAtomically(const std::string& path, const std::uint8_t* data,
                                      std::size_t count);
