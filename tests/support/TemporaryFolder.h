// A folder of its own under /tmp for one test or benchmark, removed with everything in it when
// the object goes; several test runs at once never share one.
#pragma once

#include <string>

class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& prefix = "k350-test");
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
