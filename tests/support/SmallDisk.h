// A small file system of the test's own: a tmpfs mounted on a temporary folder, to fill up or to
// turn read-only. Mounting needs root; without it available() is false and problem() says why.
#pragma once

#include <string>

class SmallDisk {
public:
    explicit SmallDisk(int kilobytes);
    ~SmallDisk();  // unmounts it and removes the folder
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool available() const { return mounted_; }
    const std::string& problem() const { return problem_; }
    const std::string& path() const { return path_; }
    bool remountReadOnly();
    // Writes a file that takes every free block, so the next write fails with ENOSPC.
    void fill();
    void makeRoom();  // removes that file

private:
    std::string path_, problem_;
    bool mounted_ = false;
};
