// What the production station does to every board: the same firmware and settings for all,
// each board's own identity. Read-only once the station runs; its workers share it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/store/SerialForm.h"
#include "config/ConfigImage.h"

class RunJournal;

struct SoakLimits {
    double seconds = 0;  // 0: no soak
    std::optional<double> maxErroneousPercent, maxLostPercent, maxJitterMs;
};

// When a port counts as going bad: `failures` of its last `of` boards failed. 0 failures: never.
struct AlertRule {
    int failures = 3, of = 5;
};

// Commands run after each board (with /bin/sh -c), and how long each may take.
struct HookCommands {
    std::string onPass, onFail;
    double timeoutSeconds = 30;
};

struct StationJob {
    std::shared_ptr<const std::vector<std::uint8_t>> image;  // null: no download
    bool verify = false;
    bool pollFlash = false;
    std::optional<ConfigSnapshot> reference;  // none: no configuration written
    std::string descriptionTemplate;          // {serial} and {die} are replaced
    std::string date;                         // dd.mm.yyyy, the day of the run
    SoakLimits soak;
    std::string recipe;             // its name, for the record
    std::string station;            // host name, for the record
    std::string store;              // location of the run store
    double storeRetrySeconds = 60;  // how long a store that went away is waited for
    RunJournal* journal = nullptr;  // where a run the store could not take is kept
    bool reprocessPassed = false;
    std::string imageSha256;
    AlertRule alert;
    HookCommands hooks;
    SerialPlan serials;
};

// One step of one board, as the station reports it.
struct StationEvent {
    std::string port, dieId, serial;
    std::string step;   // identify, boot, flash, verify, config, readback, soak, board
    std::string state;  // started, progress, done, failed, skipped, passed
    std::uint32_t done = 0, total = 0;
    std::string error;
};
using StationObserver = std::function<void(const StationEvent&)>;

namespace StationStep {
constexpr const char* Identify = "identify";
constexpr const char* Boot = "boot";
constexpr const char* Flash = "flash";
constexpr const char* Verify = "verify";
constexpr const char* Config = "config";
constexpr const char* Readback = "readback";
constexpr const char* Soak = "soak";
constexpr const char* Store = "store";  // the store could not be reached
}  // namespace StationStep
