// Where a station keeps the runs it could not write to the store: one JSON line per run, each
// tagged with the store it belongs to (by its identity, so a location spelt another way still
// finds its runs). A kept run is never lost; it is written to its store, once, by the next replay
// that reaches the store. Several station processes may share one journal.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "store/RunStore.h"

// A line the journal cannot read back (cut short by a power cut, or damaged), as a replay found
// it and put it aside.
struct DamagedJournalLine {
    int number = 0;      // counted from 1, as an editor counts
    std::string reason;  // "cut short" or "not a run the journal can read"
};

struct JournalReplay {
    int written = 0;
    bool stopped = false;  // the caller asked to stop after a run; the rest stay
    std::vector<DamagedJournalLine> damaged;
    // Where the damaged lines are now: a file of their own beside the journal, or the journal
    // itself when that file could not be written.
    std::string damagedKeptIn;
};

class RunJournal {
public:
    explicit RunJournal(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    // Appends the run of the store at `location`; it is on disk when this returns. Throws
    // StoreError when it cannot be written; the run is then counted as lost.
    void keep(const RunRecord& run, const std::string& location);
    // Writes every run kept for the store to it (by key, so a run written before a crash is not
    // written twice) and takes them out of the journal, looking at `stopAfterRun` after each.
    // Damaged lines go to a file of their own beside the journal (never deleted) and are told in
    // the result. Runs of other stores, and any from the first that fails, stay. Throws
    // StoreError after taking out those written.
    JournalReplay replay(RunStore& store, const std::string& location,
                         const std::function<bool()>& stopAfterRun = {});
    // How many runs of the store the journal holds.
    int pending(const std::string& location) const;
    int keptHere() const { return kept_; }  // by this process
    int lostHere() const;                   // runs this process could keep nowhere

private:
    std::string path_;
    std::atomic<int> kept_{0};
    std::set<std::string> lost_;  // by key: a run kept again with its hook's outcome is one
    mutable std::mutex mutex_;    // the threads of this process; a file lock the processes
};
