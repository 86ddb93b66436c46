// Where a station keeps the runs it could not write to the store: one JSON line per run, beside
// the station's settings, each tagged with the store it belongs to. A kept run is never lost; it
// is written to its store, once, by the next replay that reaches the store. Several station
// processes may share one journal.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "store/RunStore.h"

class RunJournal {
public:
    explicit RunJournal(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    // Appends the run of the store at `location`; it is on disk when this returns. Throws
    // StoreError when it cannot be written.
    void keep(const RunRecord& run, const std::string& location);
    // Writes every run kept for the store to it (by key, so a run written before a crash is not
    // written twice) and takes them out of the journal; returns how many. Runs of other stores,
    // and any from the first that fails, stay. Throws StoreError after taking out those written.
    int replay(RunStore& store, const std::string& location);
    // How many runs of the store the journal holds.
    int pending(const std::string& location) const;
    int keptHere() const { return kept_; }  // by this process

private:
    std::string path_;
    std::atomic<int> kept_{0};
    std::mutex mutex_;  // the threads of this process; a file lock the processes
};
