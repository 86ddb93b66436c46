// What the production station does to every board: the same firmware and settings for all,
// each board's own identity. Read-only once the station runs; its workers share it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/ConfigImage.h"
#include "station/StationSettings.h"
#include "store/RunStore.h"

class RunJournal;

// The settings with the files they name loaded: what every board of the station gets.
struct StationJob : StationSettings {
    std::shared_ptr<const std::vector<std::uint8_t>> image;  // null: no download
    std::string imageSha256;
    std::optional<ConfigSnapshot> reference;  // none: no configuration written
    std::string date;                         // dd.mm.yyyy, the day of the run
    std::string station;                      // the bench's name, for the record
    std::string host;                         // the machine's name
    RunJournal* journal = nullptr;            // where a run the store could not take is kept
};

// One step of one board, as the station reports it.
struct StationEvent {
    std::string port, dieId, serial;
    // identify, boot, flash, verify, config, readback, soak; board for its end; station for the
    // station's own ("stopping": done is the number of boards it finishes first, total how many
    // of them are done and only run their hook)
    std::string step;
    // started, progress, done, failed; at the board's end passed, failed, skipped, unusable
    // (error says why), elsewhere (error says where it is under way), interrupted; drift for a
    // port whose series of a measurement breaks a run rule (state: the rule)
    std::string state;
    std::uint32_t done = 0, total = 0;
    std::string error;
    // At a board's end: how many of its measurements were marginal.
    std::uint32_t marginal = 0;
    // A drift alert (step "drift", state its rule): the measurement and the values of its run.
    std::string measurement{};
    std::vector<double> values{};
    // At a board's end whose run the store did not take: "journal" when the run journal keeps it,
    // "lost" when nothing does; empty when the store has it.
    std::string runOutsideStore{};
};
using StationObserver = std::function<void(const StationEvent&)>;
