#include "station/StationSequence.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "config/Cp1251.h"
#include "config/RecordDescription.h"
#include "config/RecordRules.h"
#include "config/Sha256.h"
#include "link/BoardSession.h"
#include "link/FlashVerify.h"
#include "link/StatisticsRules.h"
#include "station/BoardHook.h"
#include "station/BoardsInProgress.h"
#include "station/StationRecipe.h"
#include "store/RunJournal.h"

namespace {
// The reply bytes that carry all three of the soak's figures.
constexpr std::size_t kSoakReplyBytes = StatisticsRules::BytesThrough(StatisticsWord::AudioJitter);

std::string Figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

// "" when the figure is within its limit, otherwise why not.
std::string OverLimit(const char* what, double value, const std::optional<double>& limit,
                      const char* unit) {
    if (!limit || value <= *limit) return {};
    return std::string(what) + " " + Figure(value) + unit + " above the limit " + Figure(*limit) +
           unit;
}

std::string OperationText(const BoardSession& session, Ending ending) {
    const std::string text = FailureText(session.observer(), ending);
    return text.empty() ? "the operation did not complete" : text;
}

// A board's line: what happened, then what became of its record when the store could not take
// it.
std::string WithNote(const std::string& error, const std::string& note) {
    if (note.empty()) return error;
    return error.empty() ? note : error + "; " + note;
}

// The soak is slept in slices, so a stop is answered at once.
constexpr std::uint32_t kSoakSliceMs = 100;

// Whether nothing answered at the port: the board went before it could be opened.
bool Unplugged(const BoardProbe& probe) {
    return std::count(probe.errors.begin(), probe.errors.end(), -ENODEV) > 0 ||
           (probe.errors.empty() && probe.statuses == std::vector<int>{LinkStatus::NoBoard});
}

// Why a board that answered neither in normal nor in boot mode cannot be taken.
std::string UnusableReason(const BoardProbe& probe) {
    const auto reported = [&](int status) {
        return std::count(probe.statuses.begin(), probe.statuses.end(), status) > 0;
    };
    if (reported(LinkStatus::AccessRefused)) {
        return "no access to its USB node: install the udev rule 70-k350.rules, then plug the "
               "board in again";
    }
    if (reported(LinkStatus::NoInterface) && !probe.interfaceDriver.empty()) {
        return "held by the kernel driver " + probe.interfaceDriver +
               " (its interface cannot be claimed): unbind the driver from the board, then plug "
               "the board in again";
    }
    if (reported(LinkStatus::NoInterface)) {
        return "held by another program (its interface cannot be claimed): close the program "
               "that uses it, then plug the board in again";
    }
    const std::string text = LinkFailureText(probe.statuses, probe.errors);
    return "does not identify itself: " + (text.empty() ? "no reply" : text);
}

// Why the store did not take a record: its fault, or the stop that ended the wait for it.
std::string StoreFault(const StoreError& fault) {
    return IsWaitStopped(fault) ? "the station was stopped while it waited for the store"
                                : fault.what();
}

std::string InterruptedText(const std::string& step) {
    if (step == StationStep::Flash || step == StationStep::Boot) {
        return "stopped during the download: the flash is left incomplete and the board will "
               "not start until an image is downloaded again";
    }
    if (step == StationStep::Config) {
        return "stopped while the configuration was written: it is left incomplete; run the "
               "board again";
    }
    return "stopped at " + step + "; run the board again";
}

std::string ElsewhereText(const RunRecord& run) {
    return "under way on bench " + run.station + " at port " + run.port + " since " + run.startedAt;
}
}  // namespace

std::string KeepInJournal(const StationJob& job, const RunRecord& run, bool* kept) {
    if (!job.journal) return "the run is not recorded";
    try {
        job.journal->keep(run, job.store);
        if (kept) *kept = true;
        return "the run is kept in the journal " + job.journal->path() +
               " and written to the store when the station reaches it";
    } catch (const StoreError& error) {
        // verbatim: the station's exit status and the README tell this case by it
        return "the run is neither in the store nor in a journal: " + std::string(error.what()) +
               "; the run, for the record: " +
               nlohmann::ordered_json{{"key", run.key},
                                      {"die_id", run.dieId},
                                      {"serial", run.serial},
                                      {"result", run.result},
                                      {"started_at", run.startedAt},
                                      {"finished_at", run.finishedAt},
                                      {"failed_step", run.failedStep}}
                   .dump();
    }
}

ConfigSnapshot IdentityRecord(const ConfigSnapshot& reference, const std::string& serial,
                              const std::string& dieId, const std::string& date,
                              const std::string& descriptionTemplate) {
    ConfigSnapshot record = reference;
    WriteTextField(record.data() + ConfigOffset::Serial, ConfigLength::Serial, serial);
    WriteTextField(record.data() + ConfigOffset::Date, ConfigLength::Date, date);
    WriteTextField(record.data() + ConfigOffset::Description, ConfigLength::Description,
                   ExpandedDescription(descriptionTemplate, serial, dieId));
    RefreshCrc(TCrc(), record);
    return record;
}

struct StationSequence::Board {
    Board(const BoardLocation& location, Clock& clock, std::string port)
        : session(location, clock), port(std::move(port)) {}
    BoardSession session;
    std::string port;
    RunRecord record;
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    ConfigSnapshot written{};
    bool taken = false;      // its die ID is this port's in BoardsInProgress
    bool journaled = false;  // its run waits in the journal: so does its hook's outcome
};

StationSequence::StationSequence(const StationJob& job, RunStore& store, Clock& clock,
                                 StationObserver observer, BoardsInProgress& boards,
                                 const std::atomic<bool>& cut)
    : job_(job),
      store_(store),
      clock_(clock),
      observer_(std::move(observer)),
      boards_(boards),
      cut_(cut) {}

void StationSequence::report(const Board& board, const char* step, const char* state,
                             const std::string& error, std::uint32_t done, std::uint32_t total) {
    if (!observer_) return;
    observer_(
        {board.port, board.record.dieId, board.record.serial, step, state, done, total, error});
}

BoardOutcome StationSequence::run(const BoardLocation& location, const std::string& port) {
    Board board(location, clock_, port);
    // Every operation's next "go on?" is answered no once the step is cut: a download ends at
    // its next page.
    board.session.observer().isCancelled = [this] { return cut_.load(); };
    board.record.station = job_.station;
    board.record.port = board.port;
    board.record.recipe = job_.recipe;
    board.record.key = NewRunKey(job_.station);
    const BoardOutcome outcome = identify(board);
    if (board.taken) boards_.release(board.record.dieId);
    return outcome;
}

// Identify: the probe `list` makes. A board that does not answer in normal mode is either in
// boot mode, gone, or one the station cannot take; the last is accounted for as unusable.
BoardOutcome StationSequence::identify(Board& board) {
    const BoardProbe probe = board.session.probe();
    if (probe.mode == BoardProbe::Mode::Boot) {
        if (!job_.image) {
            return unusable(board,
                            "the board is in boot mode and the recipe has no image for its boot "
                            "loader; give one, or start the board in normal mode");
        }
        return bootLoad(board);
    }
    if (probe.mode == BoardProbe::Mode::Unusable) {
        return Unplugged(probe) ? BoardOutcome::Gone : unusable(board, UnusableReason(probe));
    }
    const DeviceIds ids = probe.ids;
    board.record.dieId = RecordRules::DeviceIdText(ids.data());
    board.record.chipId = RecordRules::DeviceIdText(ids.data() + 8);
    if (const auto there = boards_.take(board.record.dieId, board.port)) {
        report(board, "board", "elsewhere", "under way at port " + *there + " of this station");
        return BoardOutcome::Elsewhere;
    }
    board.taken = true;
    if (const auto boot = boards_.cameBack(board.port)) {
        board.steps.push_back({{"step", StationStep::Boot},
                               {"started", boot->started},
                               {"finished", boot->finished},
                               {"ok", true},
                               {"port", boot->port}});
    }
    board.record.imageSha256 = job_.imageSha256;
    board.record.startedAt = UtcNow();
    // Nothing is done to the board until the store has its serial and its run: a store that
    // is away holds the board here, and never gets a guessed serial.
    try {
        if (const std::string where = runningElsewhere(board); !where.empty()) {
            report(board, "board", "elsewhere", where);
            return BoardOutcome::Elsewhere;
        }
        if (!job_.reprocessPassed && board.steps.empty()) {
            if (const auto serial = store_.passedSerial(board.record.dieId)) {
                board.record.serial = *serial;
                report(board, "board", "skipped", "passed before");
                return BoardOutcome::Skipped;
            }
        }
        board.record.serial =
            store_.serialFor(board.record.dieId, board.record.chipId, job_.serials);
        // Looked at again with the start, in one transaction: another bench may have taken the
        // board since.
        const ClaimedRun claimed = store_.claimRun(board.record, runSince());
        if (claimed.elsewhere) {
            report(board, "board", "elsewhere", ElsewhereText(*claimed.elsewhere));
            return BoardOutcome::Elsewhere;
        }
        board.record.id = claimed.id;
    } catch (const StoreError& fault) {
        return storeFailed(board, fault);
    }
    return runSteps(board);
}

BoardOutcome StationSequence::bootLoad(Board& board) {
    report(board, StationStep::Boot, "started");
    const std::string started = UtcNow();
    DirectObserver& observer = board.session.observer();
    observer.onProgress = [&](std::uint32_t done, std::uint32_t total) {
        report(board, StationStep::Boot, "progress", {}, done, total);
    };
    const auto downloaded = board.session.downloadFirmware(job_.image, {});
    observer.onProgress = nullptr;
    if (downloaded.done() && downloaded.value.bootMode) {
        boards_.bootLoaded({board.port, started, UtcNow()});
        report(board, StationStep::Boot, "done");
        return BoardOutcome::BootLoaded;
    }
    // The board's identity is not known in boot mode: the run has none.
    RunRecord& record = board.record;
    board.steps.push_back(
        {{"step", StationStep::Boot}, {"started", started}, {"finished", UtcNow()}, {"ok", false}});
    record.failedStep = StationStep::Boot;
    record.imageSha256 = job_.imageSha256;
    if (cut_) {
        record.result = RunResult::Interrupted;
        record.error = InterruptedText(StationStep::Boot);
    } else {
        record.result = RunResult::Failed;
        record.error = OperationText(board.session, downloaded.ending);
    }
    report(board, StationStep::Boot, cut_ ? "interrupted" : "failed", record.error);
    endWhole(board, started);
    return cut_ ? BoardOutcome::Interrupted : BoardOutcome::Failed;
}

BoardOutcome StationSequence::unusable(Board& board, const std::string& reason) {
    board.record.result = RunResult::Unusable;
    board.record.failedStep = StationStep::Identify;
    board.record.error = reason;
    endWhole(board, UtcNow());
    return BoardOutcome::Unusable;
}

// A run recorded at once, begun and ended, for a board with no run of steps; then its line and
// its hook, as at the end of any run.
void StationSequence::endWhole(Board& board, const std::string& started) {
    RunRecord& record = board.record;
    record.startedAt = started;
    record.finishedAt = UtcNow();
    record.steps = board.steps.dump();
    std::string note;
    try {
        record.id = store_.beginRun(record);
        store_.finishRun(record);
    } catch (const StoreError& fault) {
        note = StoreFault(fault) + "; " + kept(board);
    }
    report(board, "board", record.result.c_str(), WithNote(record.error, note));
    if (record.result != RunResult::Interrupted) runHook(board);
}

void StationSequence::runHook(Board& board) {
    // Stopped now, the running hooks were killed; one started after that would run on to its
    // limit.
    if (cut_) return;
    // A run the journal holds keeps its hook's outcome there too, as does one whose hook's
    // outcome the store did not take.
    const auto record = [&](const char* hook, const HookOutcome& outcome) -> std::string {
        board.record.hook = hook;
        board.record.hookStatus = outcome.status;
        board.record.hookOutput = outcome.output;
        if (board.journaled) return kept(board);
        try {
            store_.recordHook(board.record.id, hook, outcome.status, outcome.output);
            return {};
        } catch (const StoreError& fault) {
            return StoreFault(fault) + "; " + kept(board);
        }
    };
    RunBoardHook(job_.hooks, board.record, record, [&](const char* state, const std::string& text) {
        report(board, "hook", state, text);
    });
}

// The start of the oldest run that may still be under way: an older unfinished run died with its
// station.
std::string StationSequence::runSince() const {
    return UtcSecondsAgo(job_.maxRunSeconds.value_or(job_.soak.seconds + kRunAllowanceSeconds));
}

// Where the board is under way on another bench, from its unfinished run younger than a run
// may take; empty when it is not. A run of this bench's own is not: its board would be held.
std::string StationSequence::runningElsewhere(const Board& board) {
    const auto other =
        UnderWayElsewhere(store_.history({{}, board.record.dieId, runSince()}), job_.station);
    return other ? ElsewhereText(*other) : std::string();
}

std::string StationSequence::kept(Board& board) {
    return KeepInJournal(job_, board.record, &board.journaled);
}

// The store stayed away for the whole retry time, or the operator stopped the station while it
// waited, or the store refused the board a serial, before the board's sequence began: the board
// is not done, and says so with its die ID (and its serial, when it had one).
BoardOutcome StationSequence::storeFailed(Board& board, const StoreError& fault) {
    const bool stopped = IsWaitStopped(fault);
    RunRecord& record = board.record;
    record.result = stopped ? RunResult::Interrupted : RunResult::Failed;
    record.failedStep = StationStep::Store;
    record.error =
        stopped ? StoreFault(fault) + " before the board's sequence began; run the board again"
                : fault.what();
    // A refusal of the store (the serial range used up) is no outage: the store takes the run.
    if (dynamic_cast<const StoreUnavailable*>(&fault) == nullptr) {
        endWhole(board, record.startedAt);
        return BoardOutcome::Failed;
    }
    record.finishedAt = UtcNow();
    record.steps = board.steps.dump();
    const std::string where = kept(board);
    report(board, "board", record.result.c_str(), record.error + "; " + where);
    return stopped ? BoardOutcome::Interrupted : BoardOutcome::Failed;
}

// The run's end; a store still away after the retry time, or when the operator stopped the
// station while it waited, gets it through the journal. The run keeps its result there, but a
// board whose record was not waited for is told as interrupted: false then.
bool StationSequence::finish(Board& board) {
    RunRecord& record = board.record;
    record.finishedAt = UtcNow();
    record.steps = board.steps.dump();
    std::string note;
    bool waitStopped = false;
    try {
        store_.finishRun(record);
    } catch (const StoreError& fault) {
        waitStopped = IsWaitStopped(fault);
        note = StoreFault(fault) + "; " + kept(board);
    }
    if (!waitStopped) {
        report(board, "board", record.result.c_str(), WithNote(record.error, note));
        return true;
    }
    const std::string came =
        record.result == RunResult::Passed ? std::string("the board passed") : record.error;
    report(board, "board", RunResult::Interrupted, WithNote(came, note));
    return false;
}

BoardOutcome StationSequence::runSteps(Board& board) {
    RunRecord& record = board.record;
    report(board, StationStep::Identify, "done");

    const bool passed =
        (!job_.image || step(board, StationStep::Flash, [&] { return flash(board); })) &&
        (!job_.image || !job_.verify ||
         step(board, StationStep::Verify, [&] { return verify(board); })) &&
        (!job_.reference || step(board, StationStep::Config, [&] { return writeConfig(board); })) &&
        (!job_.reference || step(board, StationStep::Readback, [&] { return readBack(board); })) &&
        (job_.soak.seconds <= 0 || step(board, StationStep::Soak, [&] { return soak(board); }));
    const bool interrupted = !passed && cut_;
    record.result = passed        ? RunResult::Passed
                    : interrupted ? RunResult::Interrupted
                                  : RunResult::Failed;
    const bool ended = finish(board);
    // The operator stopped: no hook now.
    if (interrupted || !ended) return BoardOutcome::Interrupted;
    runHook(board);
    return passed ? BoardOutcome::Passed : BoardOutcome::Failed;
}

bool StationSequence::step(Board& board, const char* name,
                           const std::function<std::string()>& work) {
    report(board, name, "started");
    const std::string started = UtcNow();
    const std::string error = work();
    board.steps.push_back(
        {{"step", name}, {"started", started}, {"finished", UtcNow()}, {"ok", error.empty()}});
    if (error.empty()) {
        report(board, name, "done");
        return true;
    }
    board.record.failedStep = name;
    board.record.error = cut_ ? InterruptedText(name) : error;
    report(board, name, cut_ ? "interrupted" : "failed", board.record.error);
    return false;
}

std::string StationSequence::flash(Board& board) {
    DirectObserver& observer = board.session.observer();
    observer.onProgress = [&](std::uint32_t done, std::uint32_t total) {
        report(board, StationStep::Flash, "progress", {}, done, total);
    };
    const auto downloaded = board.session.downloadFirmware(job_.image, {job_.pollFlash});
    observer.onProgress = nullptr;
    if (!downloaded.done() || downloaded.value.bootMode) {
        return OperationText(board.session, downloaded.ending);
    }
    return {};
}

std::string StationSequence::verify(Board& board) {
    const FlashComparison comparison = CompareFlash(board.session, *job_.image);
    if (!comparison.readFailure.empty()) {
        return "the flash could not be read back: " + comparison.readFailure;
    }
    if (!comparison.firstDifference) return {};
    char address[16];
    std::snprintf(address, sizeof address, "0x%06X", unsigned(*comparison.firstDifference));
    return std::string("the flash differs from the image first at ") + address;
}

std::string StationSequence::writeConfig(Board& board) {
    const std::string description = DescriptionProblem(
        ExpandedDescription(job_.descriptionTemplate, board.record.serial, board.record.dieId));
    if (!description.empty()) return "the board's description: " + description;
    board.written = IdentityRecord(*job_.reference, board.record.serial, board.record.dieId,
                                   job_.date, job_.descriptionTemplate);
    const DeviceIds& ids = board.session.deviceIds();
    std::copy(ids.begin(), ids.end(), board.written.bytes.begin() + ConfigOffset::DieId);
    // The whole record, identity included, as a write at full service level sends it.
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(
        board.written.bytes.begin(),
        board.written.bytes.begin() + WriteExtent(ServiceLevel::FullService));
    board.record.configSha256 = Sha256Hex(*bytes);
    const auto written = board.session.writeConfig(bytes);
    if (!written.done()) return OperationText(board.session, written.ending);
    return {};
}

std::string StationSequence::readBack(Board& board) {
    const auto read = board.session.readConfig();
    if (!read.done()) return OperationText(board.session, read.ending);
    std::string differing;
    for (const FieldDifference& difference : DiffSnapshots(board.written, read.value, TCrc())) {
        differing += (differing.empty() ? "" : ", ") + difference.name + " (written " +
                     difference.first + ", read " + difference.second + ")";
    }
    return differing.empty() ? std::string() : "the board holds other values: " + differing;
}

std::string StationSequence::soak(Board& board) {
    const auto reset = board.session.statistics(StatisticsRequest::Reset);
    if (!reset.done()) return OperationText(board.session, reset.ending);
    for (std::uint64_t left = std::uint64_t(job_.soak.seconds * 1000); left > 0 && !cut_;) {
        const auto slice = std::uint32_t(std::min<std::uint64_t>(left, kSoakSliceMs));
        clock_.sleepMs(slice);
        left -= slice;
    }
    if (cut_) return "stopped";
    const auto read = board.session.statistics(StatisticsRequest::Read);
    if (!read.done()) return OperationText(board.session, read.ending);
    const LinkStatisticsReply& reply = read.value;
    if (reply.received < kSoakReplyBytes) return "the statistics reply was too short";
    const auto word = [&](int index) {
        return StatisticsRules::WordAt(reply.record.data(), index);
    };
    RunRecord& record = board.record;
    record.soakErroneousPercent =
        StatisticsRules::PercentageValue(word(StatisticsWord::LinkErroneousFraction));
    record.soakLostPercent =
        StatisticsRules::PercentageValue(word(StatisticsWord::AudioLostFraction));
    record.soakJitterMs = StatisticsRules::MillisecondsValue(word(StatisticsWord::AudioJitter));
    const SoakLimits& limits = job_.soak;
    for (const std::string& problem :
         {OverLimit("erroneous packets", *record.soakErroneousPercent, limits.maxErroneousPercent,
                    " %"),
          OverLimit("lost packets", *record.soakLostPercent, limits.maxLostPercent, " %"),
          OverLimit("jitter", *record.soakJitterMs, limits.maxJitterMs, " ms")}) {
        if (!problem.empty()) return problem;
    }
    return {};
}
