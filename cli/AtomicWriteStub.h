// Writes a file through a temporary file and a rename, so no reader ever sees it half written.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "config/PosixFile.h"

namespace pending {
enum class AtomicWriteResult { Ok, CannotCreate, WriteFailed };
inline AtomicWriteResult WriteFileAtomically(const std::string& path, const std::uint8_t* data,
                                             std::size_t count) {
    const std::string temporary = path + ".tmp";
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.valid()) return AtomicWriteResult::CannotCreate;
    const bool written = WriteFully(file.get(), data, count) && ::fsync(file.get()) == 0;
    if (!file.Close() || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return AtomicWriteResult::WriteFailed;
    }
    return AtomicWriteResult::Ok;
}
}  // namespace pending
using pending::AtomicWriteResult;
using pending::WriteFileAtomically;
