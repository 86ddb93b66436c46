// The whole production sequence on one board, on one worker: identify, (boot loader,) flash,
// verify, configuration with the board's identity at full service level, read-back compared
// field by field, soak. Every step is the same exchange as the k350ctl command of that name.
#pragma once

#include <atomic>
#include <string>

#include "config/Clock.h"
#include "link/BoardLocation.h"
#include "station/StationJob.h"
#include "store/RunStore.h"

enum class BoardOutcome {
    Passed,
    Failed,
    Skipped,      // passed before, and not asked to run again
    Unusable,     // found, but it cannot be taken (no access, held, boot mode with no image)
    Interrupted,  // stopped at a step by the operator
    BootLoaded,   // the boot loader got the firmware; the board comes back in normal mode
    Elsewhere,    // under way at another port or bench: not started again
    Gone,         // nothing answered at the port
};

class BoardsInProgress;

class StationSequence {
public:
    // `cut` set: the step under way ends at once and the run is recorded as interrupted.
    StationSequence(const StationJob& job, RunStore& store, Clock& clock, StationObserver observer,
                    BoardsInProgress& boards, const std::atomic<bool>& cut);
    BoardOutcome run(const BoardLocation& location, const std::string& port);

private:
    struct Board;
    BoardOutcome identify(Board& board);
    BoardOutcome bootLoad(Board& board);
    BoardOutcome unusable(Board& board, const std::string& reason);
    std::string runSince() const;
    std::string runningElsewhere(const Board& board);
    void endWhole(Board& board, const std::string& started);
    void runHook(Board& board);
    BoardOutcome runSteps(Board& board);
    bool step(Board& board, const char* name, const std::function<std::string()>& work);
    void measure(Board& board, const char* name, double value);
    std::string breach(const Board& board, std::size_t from) const;
    void report(const Board& board, const char* step, const char* state,
                const std::string& error = {}, std::uint32_t done = 0, std::uint32_t total = 0);
    std::string flash(Board& board);
    std::string verify(Board& board);
    std::string writeConfig(Board& board);
    std::string readBack(Board& board);
    std::string soak(Board& board);
    BoardOutcome storeFailed(Board& board, const StoreError& fault);
    bool finish(Board& board);
    void watchDrift(const Board& board);
    std::string kept(Board& board);

    const StationJob& job_;
    RunStore& store_;
    Clock& clock_;
    StationObserver observer_;
    BoardsInProgress& boards_;
    const std::atomic<bool>& cut_;
    const LimitTable limits_;  // the job's, with the soak's maxima
};

// Keeps a run the store could not take in the station's journal; what became of it, for the
// board's line. `kept` is set when the journal has it.
std::string KeepInJournal(const StationJob& job, const RunRecord& run, bool* kept = nullptr);

// The reference with the board's identity: serial, date and description from the template.
ConfigSnapshot IdentityRecord(const ConfigSnapshot& reference, const std::string& serial,
                              const std::string& dieId, const std::string& date,
                              const std::string& descriptionTemplate);
