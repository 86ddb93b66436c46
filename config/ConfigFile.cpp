#include "config/ConfigFile.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>

#include "config/PosixFile.h"

// Only regular files are used.
LoadResult LoadConfigFile(const std::string& path, const TCrc& crc, ConfigSnapshot& out) {
    FileDescriptor file(OpenForReading(path.c_str()));
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
