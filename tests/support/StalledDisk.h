// A disk that takes nothing until the test says so: a named pipe whose reading end the test
// holds. Writing to it stalls once the pipe is full, as a busy or network disk stalls.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/TemporaryFolder.h"

class StalledDisk {
public:
    explicit StalledDisk(const TemporaryFolder& folder, const std::string& name = "disk")
        : path_(folder.file(name)) {
        if (::mkfifo(path_.c_str(), 0600) != 0) return;
        reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~StalledDisk() { closeReader(); }
    StalledDisk(const StalledDisk&) = delete;
    StalledDisk& operator=(const StalledDisk&) = delete;
    bool ready() const { return reader_ >= 0; }
    const std::string& path() const { return path_; }
    int openForWriting() const { return ::open(path_.c_str(), O_WRONLY | O_CLOEXEC); }
    // What the writer has put into the pipe and nobody has read yet.
    int bytesInPipe() const {
        int bytes = 0;
        ::ioctl(reader_, FIONREAD, &bytes);
        return bytes;
    }
    // Reads until the writer closes its end.
    std::string readToEnd() {
        ::fcntl(reader_, F_SETFL, 0);
        std::string bytes;
        char buffer[65536];
        for (ssize_t got; (got = ::read(reader_, buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            bytes.append(buffer, std::size_t(got));
        }
        return bytes;
    }
    void closeReader() {
        if (reader_ >= 0) ::close(reader_);
        reader_ = -1;
    }

private:
    std::string path_;
    int reader_ = -1;
};
