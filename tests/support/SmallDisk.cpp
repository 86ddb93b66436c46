#include "tests/support/SmallDisk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

SmallDisk::SmallDisk(int kilobytes) {
    char pattern[] = "/tmp/k350-disk-XXXXXX";
    if (!mkdtemp(pattern)) {
        problem_ = "no temporary folder";
        return;
    }
    path_ = pattern;
    const std::string size = "size=" + std::to_string(kilobytes) + "k,mode=0777";
    if (mount("tmpfs", path_.c_str(), "tmpfs", 0, size.c_str()) != 0) {
        problem_ = std::string("cannot mount a tmpfs (needs root): ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

SmallDisk::~SmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

bool SmallDisk::remountReadOnly() {
    return mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

void SmallDisk::fill() {
    const int file = open((path_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const std::vector<char> block(4096, 'F');
    while (write(file, block.data(), block.size()) > 0) {
    }
    // The last partial block too.
    while (write(file, block.data(), 1) > 0) {
    }
    close(file);
}

void SmallDisk::makeRoom() {
    unlink((path_ + "/filler").c_str());
}
