#include "station/StationSequence.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
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
#include "store/DriftRule.h"
#include "store/RunJournal.h"

namespace {
// The reply bytes that carry all three of the soak's figures.
constexpr std::size_t kSoakReplyBytes = StatisticsRules::BytesThrough(StatisticsWord::AudioJitter);

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

// The soak is slept in slices, so a stop is answered at once; the board's figures are read once
// a second of it, for their mean and their worst.
constexpr std::uint32_t kSoakSliceMs = 100;
constexpr std::uint32_t kSoakReadingMs = 1000;

// How many of a port's latest runs the drift rule reads: enough for its longest run of nine and
// for control limits of some standing.
constexpr int kDriftWindow = 30;

// What each step's time is measured as.
const char* StepTimeName(const std::string& step) {
    if (step == StationStep::Flash) return MeasurementName::Download;
    if (step == StationStep::Verify) return MeasurementName::Verify;
    if (step == StationStep::Config) return MeasurementName::Config;
    if (step == StationStep::Readback) return MeasurementName::Readback;
    return nullptr;
}

// One soak figure over its readings: the mean, and the worst (the highest; for the sync
// frequency the one farthest from the mean).
struct SoakFigure {
    std::vector<double> readings;
    double mean() const {
        double sum = 0;
        for (double value : readings) sum += value;
        return sum / double(readings.size());
    }
    double highest() const { return *std::max_element(readings.begin(), readings.end()); }
    double farthest() const {
        const double centre = mean();
        double far = readings.front();
        for (double value : readings) {
            if (std::fabs(value - centre) > std::fabs(far - centre)) far = value;
        }
        return far;
    }
};

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
    bool lost = false;       // its run could be kept neither in the store nor in the journal
};

StationSequence::StationSequence(const StationJob& job, RunStore& store, Clock& clock,
                                 StationObserver observer, BoardsInProgress& boards,
                                 const std::atomic<bool>& cut)
    : job_(job),
      store_(store),
      clock_(clock),
      observer_(std::move(observer)),
      boards_(boards),
      cut_(cut),
      limits_(WithSoakMaxima(job.limits, job.soak)) {}

void StationSequence::report(const Board& board, const char* step, const char* state,
                             const std::string& error, std::uint32_t done, std::uint32_t total) {
    if (!observer_) return;
    StationEvent event{
        board.port, board.record.dieId, board.record.serial, step, state, done, total, error};
    if (event.step == "board") {
        for (const Measurement& measurement : board.record.measurements) {
            event.marginal += measurement.outcome == MeasurementOutcome::Marginal;
        }
        event.runOutsideStore = board.journaled ? "journal" : board.lost ? "lost" : "";
    }
    observer_(event);
}

BoardOutcome StationSequence::run(const BoardLocation& location, const std::string& port) {
    Board board(location, clock_, port);
    // Every operation's next "go on?" is answered no once the step is cut: a download ends at
    // its next page.
    board.session.observer().isCancelled = [this] { return cut_.load(); };
    board.record.station = job_.station;
    board.record.port = board.port;
    board.record.recipe = job_.recipe;
    SetRunOrigin(board.record, job_);
    board.record.key = NewRunKey(job_.station);
    const BoardOutcome outcome = identify(board);
    if (board.taken) boards_.release(board.record.dieId);
    return outcome;
}

// Identify: the probe `list` makes. A board that does not answer in normal mode is either in
// boot mode, gone, or one the station cannot take; the last is accounted for as unusable.
BoardOutcome StationSequence::identify(Board& board) {
    const std::int64_t probeStartUs = clock_.nowUs();
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
    measure(board, MeasurementName::Identify, double(clock_.nowUs() - probeStartUs) / 1000);
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
    const std::string where = KeepInJournal(job_, board.record, &board.journaled);
    board.lost = !board.journaled;
    return where;
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
        if (note.empty()) watchDrift(board);
        return true;
    }
    const std::string came =
        record.result == RunResult::Passed ? std::string("the board passed") : record.error;
    report(board, "board", RunResult::Interrupted, WithNote(came, note));
    return false;
}

// Each measurement's series at this port, the run just recorded its latest point: read from the
// store, so a restarted station, or another on the same port's history, sees the same series.
void StationSequence::watchDrift(const Board& board) {
    if (!observer_) return;
    for (const Measurement& measurement : board.record.measurements) {
        std::vector<double> series;
        try {
            series = store_.portSeries(job_.station, board.port, measurement.name, kDriftWindow);
        } catch (const StoreError&) {
            return;  // the run is recorded; the watch waits for the next board
        }
        const auto found = DriftAtEnd(series);
        if (!found) continue;
        StationEvent event{board.port,
                           board.record.dieId,
                           board.record.serial,
                           "drift",
                           DriftRuleName(found->rule),
                           0,
                           0,
                           DriftMessage(board.port, measurement.name, *found)};
        event.measurement = measurement.name;
        event.values = found->values;
        observer_(event);
    }
}

BoardOutcome StationSequence::runSteps(Board& board) {
    RunRecord& record = board.record;
    const std::string identified = breach(board, 0);
    if (identified.empty()) {
        report(board, StationStep::Identify, "done");
    } else {
        record.failedStep = StationStep::Identify;
        record.error = identified;
        report(board, StationStep::Identify, "failed", identified);
    }

    const bool passed =
        identified.empty() &&
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
    const std::int64_t startUs = clock_.nowUs();
    const std::size_t measured = board.record.measurements.size();
    std::string error = work();
    if (error.empty()) {
        if (const char* time = StepTimeName(name)) {
            measure(board, time, double(clock_.nowUs() - startUs) / 1e6);
        }
        // A measurement outside its limits fails the step that took it.
        error = breach(board, measured);
    }
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

void StationSequence::measure(Board& board, const char* name, double value) {
    board.record.measurements.push_back(
        Measured(name, value, UnitOf(name).value_or(""), LimitsOf(limits_, name)));
}

// The first of the measurements from `from` on that is outside its limits, told; "" when none.
std::string StationSequence::breach(const Board& board, std::size_t from) const {
    const auto& measurements = board.record.measurements;
    for (std::size_t i = from; i < measurements.size(); ++i) {
        if (const std::string breach = LimitBreach(measurements[i]); !breach.empty()) return breach;
    }
    return {};
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
    // The flash's busy times, known when it is polled.
    const FirmwareDownload& download = downloaded.value;
    if (download.erase.count > 0) {
        measure(board, MeasurementName::FlashEraseMax, download.erase.maxMs);
        measure(board, MeasurementName::FlashEraseMean, download.erase.meanMs());
    }
    if (download.program.count > 0) {
        measure(board, MeasurementName::FlashProgramMax, download.program.maxMs);
        measure(board, MeasurementName::FlashProgramMean, download.program.meanMs());
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
    SoakFigure erroneous, lost, jitter, load, sync;
    const auto readFigures = [&]() -> std::string {
        const auto read = board.session.statistics(StatisticsRequest::Read);
        if (!read.done()) return OperationText(board.session, read.ending);
        const LinkStatisticsReply& reply = read.value;
        if (reply.received < kSoakReplyBytes) return "the statistics reply was too short";
        const auto word = [&](int index) {
            return StatisticsRules::WordAt(reply.record.data(), index);
        };
        erroneous.readings.push_back(
            StatisticsRules::PercentageValue(word(StatisticsWord::LinkErroneousFraction)));
        lost.readings.push_back(
            StatisticsRules::PercentageValue(word(StatisticsWord::AudioLostFraction)));
        jitter.readings.push_back(
            StatisticsRules::MillisecondsValue(word(StatisticsWord::AudioJitter)));
        // A short reply keeps the three figures the soak always had; load and frequency then
        // have no reading.
        if (reply.received >= StatisticsRules::BytesThrough(StatisticsWord::SyncFrequency)) {
            load.readings.push_back(
                StatisticsRules::LoadValue(word(StatisticsWord::ProcessorLoad)));
            sync.readings.push_back(double(word(StatisticsWord::SyncFrequency)));
        }
        return {};
    };
    std::uint32_t sinceReading = 0;
    for (std::uint64_t left = std::uint64_t(job_.soak.seconds * 1000); left > 0 && !cut_;) {
        const auto slice = std::uint32_t(std::min<std::uint64_t>(left, kSoakSliceMs));
        clock_.sleepMs(slice);
        left -= slice;
        sinceReading += slice;
        // The last reading is the soak's end, whatever its length.
        if (sinceReading >= kSoakReadingMs && left > 0 && !cut_) {
            sinceReading = 0;
            if (const std::string failed = readFigures(); !failed.empty()) return failed;
        }
    }
    if (cut_) return "stopped";
    if (const std::string failed = readFigures(); !failed.empty()) return failed;
    // The figures at the soak's end, as the run has always kept them.
    RunRecord& record = board.record;
    record.soakErroneousPercent = erroneous.readings.back();
    record.soakLostPercent = lost.readings.back();
    record.soakJitterMs = jitter.readings.back();
    using namespace MeasurementName;
    measure(board, SoakErroneousMean, erroneous.mean());
    measure(board, SoakErroneousWorst, erroneous.highest());
    measure(board, SoakLostMean, lost.mean());
    measure(board, SoakLostWorst, lost.highest());
    measure(board, SoakJitterMean, jitter.mean());
    measure(board, SoakJitterWorst, jitter.highest());
    if (!load.readings.empty()) {
        measure(board, SoakLoadMean, load.mean());
        measure(board, SoakLoadWorst, load.highest());
        measure(board, SoakSyncMean, sync.mean());
        measure(board, SoakSyncWorst, sync.farthest());
    }
    return {};
}
