#include "cli/station/StationSequence.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "cli/BoardSession.h"
#include "cli/FlashVerify.h"
#include "cli/station/BoardHook.h"
#include "cli/station/StationRecipe.h"
#include "cli/store/RunJournal.h"
#include "config/Cp1251.h"
#include "config/RecordDescription.h"
#include "config/RecordRules.h"
#include "config/Sha256.h"
#include "link/StatisticsRules.h"

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
}  // namespace

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
};

StationSequence::StationSequence(const StationJob& job, RunStore& store, Clock& clock,
                                 StationObserver observer)
    : job_(job), store_(store), clock_(clock), observer_(std::move(observer)) {}

void StationSequence::report(const Board& board, const char* step, const char* state,
                             const std::string& error, std::uint32_t done, std::uint32_t total) {
    if (!observer_) return;
    observer_(
        {board.port, board.record.dieId, board.record.serial, step, state, done, total, error});
}

BoardOutcome StationSequence::run(const BoardLocation& location, const std::string& port) {
    Board board(location, clock_, port);
    // Identify: the probe `list` makes.
    const BoardProbe probe = board.session.probe();
    if (probe.mode != BoardProbe::Mode::Normal) {
        if (probe.mode == BoardProbe::Mode::Unusable) return BoardOutcome::Gone;
        if (!job_.image) return BoardOutcome::Gone;  // nothing a boot loader could take
        report(board, StationStep::Boot, "started");
        const auto downloaded = board.session.downloadFirmware(job_.image, {});
        if (!downloaded.done() || !downloaded.value.bootMode) {
            report(board, StationStep::Boot, "failed",
                   OperationText(board.session, downloaded.ending));
            return BoardOutcome::Failed;
        }
        report(board, StationStep::Boot, "done");
        return BoardOutcome::BootLoaded;
    }
    const DeviceIds ids = probe.ids;
    board.record.dieId = RecordRules::DeviceIdText(ids.data());
    board.record.chipId = RecordRules::DeviceIdText(ids.data() + 8);
    board.record.station = job_.station;
    board.record.port = board.port;
    board.record.recipe = job_.recipe;
    board.record.imageSha256 = job_.imageSha256;
    board.record.startedAt = UtcNow();
    board.record.key = NewRunKey(job_.station);
    // Nothing is done to the board until the store has its serial and its run: a store that
    // is away holds the board here, and never gets a guessed serial.
    try {
        if (!job_.reprocessPassed && store_.hasPassed(board.record.dieId)) {
            report(board, "board", "skipped", "passed before");
            return BoardOutcome::Skipped;
        }
        board.record.serial =
            store_.serialFor(board.record.dieId, board.record.chipId, job_.serials);
        board.record.id = store_.beginRun(board.record);
    } catch (const StoreError& fault) {
        return storeFailed(board, fault);
    }
    return runSteps(board);
}

// The run as the journal keeps it, and where, for the board's last line.
std::string StationSequence::kept(const RunRecord& run) {
    if (!job_.journal) return "the run is not recorded";
    try {
        job_.journal->keep(run, job_.store);
        return "the run is kept in the journal " + job_.journal->path() +
               " and written to the store when the station reaches it";
    } catch (const StoreError& error) {
        return std::string(error.what()) + "; the run, for the record: " +
               nlohmann::json{{"key", run.key},
                              {"die_id", run.dieId},
                              {"serial", run.serial},
                              {"result", run.result},
                              {"started_at", run.startedAt},
                              {"finished_at", run.finishedAt},
                              {"failed_step", run.failedStep}}
                   .dump();
    }
}

// The store stayed away for the whole retry time before the board was touched: the board is not
// done, and says so with its die ID (and its serial, when it had one).
BoardOutcome StationSequence::storeFailed(Board& board, const StoreError& fault) {
    RunRecord& record = board.record;
    record.result = RunResult::Failed;
    record.failedStep = StationStep::Store;
    record.error = fault.what();
    record.finishedAt = UtcNow();
    record.steps = board.steps.dump();
    const std::string where = kept(record);
    report(board, "board", "failed", record.error + "; " + where);
    return BoardOutcome::Failed;
}

// The run's end; a store still away after the retry time gets it through the journal.
void StationSequence::finish(Board& board) {
    RunRecord& record = board.record;
    record.finishedAt = UtcNow();
    record.steps = board.steps.dump();
    std::string note;
    try {
        store_.finishRun(record);
    } catch (const StoreError& fault) {
        note = std::string(fault.what()) + "; " + kept(record);
    }
    const bool passed = record.result == RunResult::Passed;
    const std::string error = record.error.empty() ? note
                              : note.empty()       ? record.error
                                                   : record.error + "; " + note;
    report(board, "board", passed ? "passed" : "failed", error);
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
    record.result = passed ? RunResult::Passed : RunResult::Failed;
    finish(board);
    RunBoardHook(job_.hooks, record, store_, [&](const char* state, const std::string& text) {
        report(board, "hook", state, text);
    });
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
    board.record.error = error;
    report(board, name, "failed", error);
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
    clock_.sleepMs(std::uint32_t(job_.soak.seconds * 1000));
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
