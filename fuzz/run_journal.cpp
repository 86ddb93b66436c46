// A station's run journal as a replay (`station --sync`, a station's start) reads it, into an
// in-memory SQLite store: any bytes, as a cut or damaged file may hold. Nothing is lost: every
// line is either still kept in the journal's folder or its run is in the store, and a replay
// that ended well leaves no run of the store behind.
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "store/RunJournal.h"
#include "store/SqlRunStore.h"

namespace {

constexpr const char* kLocation = ":memory:";

std::vector<std::string> LinesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// The lines of every file the journal keeps in its folder (the journal itself, and whatever it
// puts aside), but its lock.
std::multiset<std::string> KeptLines(const std::string& folder) {
    std::multiset<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".lock") continue;
        for (std::string& line : LinesOf(entry.path())) kept.insert(std::move(line));
    }
    return kept;
}

// The run's key as a replay reads it; empty for a line that holds none.
std::string KeyOf(const std::string& line) {
    const auto parsed = nlohmann::json::parse(line, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("key") || !parsed["key"].is_string()) return {};
    return parsed["key"].get<std::string>();
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
    const std::vector<std::string> before = LinesOf(path);
    auto store = OpenSqlRunStore(kLocation, StoreAccess::Write);
    RunJournal journal(path);
    int written = 0;
    bool ended = false;
    try {
        written = journal.replay(*store, kLocation).written;
        ended = true;
    } catch (const StoreError&) {
    }
    std::set<std::string> stored;
    for (const RunRecord& run : store->history({})) stored.insert(run.key);
    std::multiset<std::string> kept = KeptLines(folder);
    for (const std::string& line : before) {
        // A line kept twice (a run kept again with its hook's outcome) is one run in the store.
        if (const auto found = kept.find(line); found != kept.end()) {
            kept.erase(found);
            continue;
        }
        FUZZ_REQUIRE(stored.count(KeyOf(line)) == 1, "no run of the journal is lost");
    }
    if (ended) FUZZ_REQUIRE(journal.pending(kLocation) == 0, "a replay leaves none of its store");
    FUZZ_REQUIRE(int(stored.size()) <= written, "the store holds what was written");
    return 0;
}
