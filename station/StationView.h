// What the operator sees of the station: on a terminal one row per port (port, die ID, serial,
// step, progress, result), large enough to read from a metre away, and the count of passed and
// failed boards; otherwise one JSON line per step and per board.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "station/EventJournal.h"
#include "station/PortWatch.h"
#include "station/Station.h"
#include "station/StationJob.h"

class StationView {
public:
    // `emit` writes one block, to which it adds the line break.
    StationView(std::function<void(const std::string&)> emit, bool terminal)
        : emit_(std::move(emit)), terminal_(terminal) {}
    void show(const StationEvent& event);
    // A port going bad: on the table a line under the rows until a board passes there again;
    // otherwise one JSON line with the alert.
    void showAlert(const PortAlert& alert);
    // The line the operator is told when the station is asked to stop, given how many boards
    // it finishes first, how many of them only run their hook, and what stops it now.
    static std::string StoppingText(std::uint32_t boards, std::uint32_t atHooks,
                                    const std::string& again);
    // Shown above the table until the station ends.
    void setNotice(std::string notice);
    // Under systemd: each line the station prints goes to the journal with its fields instead,
    // and is printed after all when the journal does not take it.
    void journalTo(EventJournal journal) { journal_ = std::move(journal); }

private:
    struct Row {
        std::string dieId, serial, step, progress, result;
    };
    void redraw();
    void printJson(const StationEvent& event);
    void showDrift(const StationEvent& event);
    bool repeatsItself(const StationEvent& event);

    std::function<void(const std::string&)> emit_;
    bool terminal_;
    std::map<std::string, Row> rows_;            // by port
    std::map<std::string, std::string> alerts_;  // by port
    int passed_ = 0, marginal_ = 0, failed_ = 0, skipped_ = 0, unusable_ = 0, interrupted_ = 0;
    std::string notice_;
    std::map<std::string, std::string> elsewhere_;  // by port: what it was last told
    std::optional<EventJournal> journal_;
};
