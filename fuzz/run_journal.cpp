// A station's run journal as a replay (`station --sync`, a station's start) reads it, into an
// in-memory SQLite store: any bytes, as a cut or damaged file may hold. Nothing is lost: every
// line is either written to the store or still kept, and a replay that ended well leaves no run
// of the store behind.
#include <filesystem>
#include <fstream>

#include "fuzz/FuzzSupport.h"
#include "store/RunJournal.h"
#include "store/SqlRunStore.h"

namespace {

constexpr const char* kLocation = ":memory:";

// The lines of every file the journal keeps in its folder (the journal itself, and whatever it
// puts aside), but its lock.
int KeptLines(const std::string& folder) {
    int lines = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".lock") continue;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) lines += !line.empty();
    }
    return lines;
}

void Clear(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::filesystem::remove_all(entry.path());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string folder = FuzzFolder().file("journal");
    std::filesystem::create_directories(folder);
    Clear(folder);
    const std::string path = folder + "/runs.journal";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
    const int before = KeptLines(folder);
    auto store = OpenSqlRunStore(kLocation, StoreAccess::Write);
    RunJournal journal(path);
    int written = 0;
    bool ended = false;
    try {
        written = journal.replay(*store, kLocation).written;
        ended = true;
    } catch (const StoreError&) {
    }
    FUZZ_REQUIRE(written + KeptLines(folder) >= before, "no run of the journal is lost");
    if (ended) FUZZ_REQUIRE(journal.pending(kLocation) == 0, "a replay leaves none of its store");
    FUZZ_REQUIRE(int(store->history({}).size()) <= written, "the store holds what was written");
    return 0;
}
