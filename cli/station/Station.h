// The production station: takes every board plugged in, one worker per port, runs the sequence
// on it and waits for it to be unplugged before it takes a board at that port again.
#pragma once

#include <functional>

#include "cli/station/StationJob.h"
#include "link/Clock.h"

struct StationCounts {
    int passed = 0, failed = 0, skipped = 0;
    int ended() const { return passed + failed + skipped; }
};

class Station {
public:
    Station(const StationJob& job, Clock& clock, StationObserver observer);
    // Until `stop` returns true, or until `boardLimit` boards have ended (0: no limit). Boards in
    // progress when it stops are finished first: a download is never cut.
    StationCounts run(const std::function<bool()>& stop, int boardLimit,
                      std::uint32_t scanPeriodMs = 250);

private:
    const StationJob& job_;
    Clock& clock_;
    StationObserver observer_;
};
