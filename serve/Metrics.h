// The line's figures in the Prometheus text format: the runs by bench, port and result, the step
// failures by step, the passed boards' time as a histogram, from the totals the store keeps
// (RunTally; so one scrape sees the whole line, whichever bench wrote what); the boards in
// progress, each bench's heartbeat age and the runs its journal keeps, from the live state.
#pragma once

#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "serve/LiveLine.h"
#include "store/SqlRunStore.h"

// The server's own figures, reported with the line's.
struct ServeFigures {
    std::size_t streams = 0, droppedStreams = 0;
};

class Metrics {
public:
    explicit Metrics(std::string location) : location_(std::move(location)) {}
    // A scrape: never throws; a store that cannot be read gives k350_store_up 0 and the live part.
    std::string text(const LiveLine& line, const ServeFigures& serve, std::time_t now);

private:
    std::string storeText();

    std::string location_;
    std::mutex mutex_;  // one scrape at a time on the one connection
    std::unique_ptr<SqlRunStore> store_;
};

// A label's value as the text format writes it: backslash, double quote and line feed escaped.
std::string MetricLabel(const std::string& value);
