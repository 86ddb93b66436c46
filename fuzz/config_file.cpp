// A `.kcf` file as `load`, `show`, `set` and a recipe's reference read it: any bytes, any length.
// The loader takes exactly the 156-byte files with a valid CRC, and what it took is described,
// compared and written back unchanged.
#include <cstring>

#include "config/ConfigFile.h"
#include "config/RecordDescription.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TCrc crc;
    const std::string path = FuzzFile("record.kcf", data, size);
    ConfigSnapshot loaded;
    const LoadResult result = LoadConfigFile(path, crc, loaded);
    FUZZ_REQUIRE((result == LoadResult::WrongSize) == (size != kSnapshotSize),
                 "a file of another size than 156 bytes is refused for its size");
    if (size != kSnapshotSize) return 0;
    ConfigSnapshot given;
    std::memcpy(given.data(), data, size);
    ConfigSnapshot refreshed = given;
    RefreshCrc(crc, refreshed);
    const bool crcValid = StoredCrc(refreshed) == StoredCrc(given);
    FUZZ_REQUIRE((result == LoadResult::Ok) == crcValid, "taken exactly when its CRC is valid");
    // `show` and `diff` describe any record, a damaged one included.
    DiffSnapshots(given, refreshed, crc);
    if (result != LoadResult::Ok) return 0;
    FUZZ_REQUIRE(loaded.bytes == given.bytes, "the record is taken as the file holds it");
    const std::string copy = FuzzFolder().file("copy.kcf");
    FUZZ_REQUIRE(SaveConfigFile(copy, loaded) == SaveResult::Ok, "a loaded record can be saved");
    ConfigSnapshot again;
    FUZZ_REQUIRE(LoadConfigFile(copy, crc, again) == LoadResult::Ok && again.bytes == given.bytes,
                 "a saved record loads back unchanged");
    return 0;
}
