// The line live as the server holds it: every bench's and port's newest row from the store, the
// day's figures by bench with the suspect ports and the drifting ones, and whether the store can be
// reached. Each change becomes an event for the pages; a row's event carries its change number, so
// a page that comes back says the last it saw and gets only what changed after. Not thread-safe:
// LiveFeed guards it.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report/LineReport.h"
#include "store/LiveState.h"

struct LiveEvent {
    std::int64_t id = 0;  // the change number; 0 for the server's own (figures, banner)
    std::string name;     // bench, port, figures, banner
    nlohmann::ordered_json data;
};

// The event as a Server-Sent Events stream carries it.
std::string EventText(const LiveEvent& event);

class LiveLine {
public:
    using PortKey = std::pair<std::string, std::string>;  // bench, port

    // The store's rows: an event for each that differs from the row held, in change order. A
    // store restored from a backup may number a row lower than before: it is news all the same.
    std::vector<LiveEvent> take(const LiveChanges& changes);
    // Every row changed after `after` (0: all), as events in change order.
    std::vector<LiveEvent> eventsAfter(std::int64_t after) const;
    // The day's figures from the report of today; whether a board ended since they were read.
    LiveEvent setFigures(const LineReport& today);
    bool boardEndedSinceFigures() const { return boardEnded_; }
    // The store away since `since` (UTC text), or back (nullopt).
    LiveEvent setUnreachable(const std::optional<std::string>& since);
    const std::optional<std::string>& unreachableSince() const { return unreachableSince_; }
    // What a page needs besides the rows: the banner and the figures.
    std::vector<LiveEvent> extras() const;

    // All of it in one object: /api/live and the page's first state.
    nlohmann::ordered_json json(const std::string& now) const;

    const std::map<std::string, BenchLive>& benches() const { return benches_; }
    const std::map<PortKey, PortLive>& ports() const { return ports_; }

    static nlohmann::ordered_json BenchJson(const BenchLive& bench);
    static nlohmann::ordered_json PortJson(const PortLive& port);

private:
    LiveEvent bannerEvent() const;

    std::map<std::string, BenchLive> benches_;
    std::map<PortKey, PortLive> ports_;
    nlohmann::ordered_json figures_ = nlohmann::ordered_json::object();
    std::optional<std::string> unreachableSince_;
    bool boardEnded_ = false;
};

// A bench's "silent since" shows once its heartbeat is older than this.
constexpr int kSilentSeconds = 15;
// The banner while the store cannot be reached; the time follows it.
constexpr const char* kUnreachableText =
    "store unreachable since ";  // verbatim: the line's manual shows it
