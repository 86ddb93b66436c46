// The production station: takes every board plugged in, one worker per port, runs the sequence
// on it and waits for it to be unplugged before it takes a board at that port again.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "config/Clock.h"
#include "station/StationJob.h"

struct StationCounts {
    int passed = 0, failed = 0, skipped = 0, unusable = 0, interrupted = 0;
    int ended() const { return passed + failed + skipped + unusable + interrupted; }
};

// How far the operator asked the station to stop.
enum class StationStop {
    None,
    Finish,  // take no new board, finish those under way
    Now,     // end the steps under way at once; their runs are interrupted
};

// verbatim: the station's line when a run could be kept neither in the store nor in the journal
constexpr const char* kUnrecordedText =
    "a board's run could be kept neither in the store nor in the journal (its line says why and "
    "holds the run); no new board is taken";

class Station {
public:
    Station(const StationJob& job, Clock& clock, StationObserver observer);
    // Until it is asked to stop, or until `boardLimit` boards have ended (0: no limit). Asked to
    // finish, it says how many boards it finishes first, and finishes them.
    StationCounts run(const std::function<StationStop()>& stop, int boardLimit,
                      std::uint32_t scanPeriodMs = 250);

private:
    const StationJob& job_;
    Clock& clock_;
    StationObserver observer_;
};
