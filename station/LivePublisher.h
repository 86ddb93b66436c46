// The station's live state in the store (LiveState): its bench's heartbeat and each port's board
// and step. A thread of its own writes it on a connection of its own that waits only briefly.
// Boards never wait for it: an event is handed over, and the thread writes the newest state of
// each port, a step at once and progress at most every kPace.progressMs. A store that is away
// delays the live state, never a board.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "station/StationJob.h"
#include "store/LiveState.h"

struct LivePace {
    std::uint32_t heartbeatMs = 2000;  // the bench's row, written again
    std::uint32_t progressMs = 500;    // the least time between two progress writes of a port
    std::uint32_t retryMs = 1000;      // after a failed write, before the store is tried again
    std::uint32_t stopWaitMs = 1000;   // how long the bench's stop is waited for at the end
};

class LivePublisher {
public:
    // `journalRuns` says how many runs the journal keeps for the store, looked at with each
    // heartbeat; none: not told.
    LivePublisher(std::string location, BenchLive bench,
                  std::function<std::optional<int>()> journalRuns = {}, LivePace pace = {});
    // Writes the bench as stopped, waiting for that at most pace.stopWaitMs.
    ~LivePublisher();
    LivePublisher(const LivePublisher&) = delete;
    LivePublisher& operator=(const LivePublisher&) = delete;

    // Takes a station's event; returns at once.
    void record(const StationEvent& event);

    // The bench as the station starts it: its name, host, version and recipe.
    static BenchLive BenchOf(const StationJob& job);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;  // the thread's too: it may outlive the publisher
    std::future<void> ended_;
};
