// The whole production sequence on one board, on one worker: identify, (boot loader,) flash,
// verify, configuration with the board's identity at full service level, read-back compared
// field by field, soak. Every step is the same exchange as the k350ctl command of that name.
#pragma once

#include <string>

#include "cli/station/StationJob.h"
#include "cli/store/RunStore.h"
#include "link/BoardLocation.h"
#include "link/Clock.h"

enum class BoardOutcome {
    Passed,
    Failed,
    Skipped,     // passed before, and not asked to run again
    BootLoaded,  // the boot loader got the firmware; the board comes back in normal mode
    Gone,        // nothing answered at the port
};

class StationSequence {
public:
    StationSequence(const StationJob& job, RunStore& store, Clock& clock, StationObserver observer);
    BoardOutcome run(const BoardLocation& location, const std::string& port);

private:
    struct Board;
    BoardOutcome runSteps(Board& board);
    bool step(Board& board, const char* name, const std::function<std::string()>& work);
    void report(const Board& board, const char* step, const char* state,
                const std::string& error = {}, std::uint32_t done = 0, std::uint32_t total = 0);
    std::string flash(Board& board);
    std::string verify(Board& board);
    std::string writeConfig(Board& board);
    std::string readBack(Board& board);
    std::string soak(Board& board);
    BoardOutcome storeFailed(Board& board, const StoreError& fault);
    void finish(Board& board);
    std::string kept(const RunRecord& run);

    const StationJob& job_;
    RunStore& store_;
    Clock& clock_;
    StationObserver observer_;
};

// The reference with the board's identity: serial, date and description from the template.
ConfigSnapshot IdentityRecord(const ConfigSnapshot& reference, const std::string& serial,
                              const std::string& dieId, const std::string& date,
                              const std::string& descriptionTemplate);
