#include "config/ConfigFile.h"

#include <algorithm>

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
    switch (WriteFileAtomically(path, snapshot.data(), kSnapshotSize)) {
        case AtomicWriteResult::Ok:
            return SaveResult::Ok;
        case AtomicWriteResult::CannotCreate:
            return SaveResult::CannotCreate;
        case AtomicWriteResult::WriteFailed:
            break;
    }
    return SaveResult::WriteFailed;
}
