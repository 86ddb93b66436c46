#include "cli/station/StationSequence.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "cli/BoardSession.h"
#include "config/Cp1251.h"
#include "config/RecordDescription.h"
#include "config/RecordRules.h"
#include "config/Sha256.h"
#include "link/StatisticsRules.h"

namespace {
constexpr std::uint32_t kFlashLimit = 0x20000;  // the download programs nothing beyond it
// Statistics words of the soak's figures, and the reply bytes that carry all three.
constexpr int kErroneousWord = 6, kLostWord = 13, kJitterWord = 14;
constexpr std::uint32_t kSoakReplyBytes = 4 * (kJitterWord + 1);

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

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

std::string OperationText(const CliChannel::Outcome& outcome) {
    const std::string text = FailureText(outcome);
    return text.empty() ? "the operation did not complete" : text;
}
}  // namespace

ConfigSnapshot IdentityRecord(const ConfigSnapshot& reference, const std::string& serial,
                              const std::string& dieId, const std::string& date,
                              const std::string& descriptionTemplate) {
    ConfigSnapshot record = reference;
    WriteTextField(record.data() + ConfigOffset::Serial, ConfigLength::Serial, serial);
    WriteTextField(record.data() + ConfigOffset::Date, ConfigLength::Date, date);
    const std::string description = RecordRules::StoredLineBreaks(
        Replaced(Replaced(descriptionTemplate, "{serial}", serial), "{die}", dieId));
    WriteTextField(record.data() + ConfigOffset::Description, ConfigLength::Description,
                   description);
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
    TK350& worker = board.session.worker();
    // Identify: the probe `list` makes.
    worker.OpenLink(K350Usb::NormalConfiguration);
    worker.QueryLink();
    if (!worker.isLinkOpen()) {
        board.session.channel().clearOutcome();
        worker.OpenLink(K350Usb::BootConfiguration);
        if (!worker.isLinkOpen()) return BoardOutcome::Gone;
        worker.CloseLink();
        if (!job_.image) return BoardOutcome::Gone;  // nothing a boot loader could take
        report(board, StationStep::Boot, "started");
        board.session.channel().transferBytes = job_.image;
        const auto& outcome = board.session.run(WorkerRequest::LoadFirmware);
        if (!outcome.done || !outcome.hasStatus(LinkStatus::BootFinished)) {
            report(board, StationStep::Boot, "failed", OperationText(outcome));
            return BoardOutcome::Failed;
        }
        report(board, StationStep::Boot, "done");
        return BoardOutcome::BootLoaded;
    }
    const DeviceIds ids = worker.deviceIds();
    board.record.dieId = RecordRules::DeviceIdText(ids.data());
    board.record.chipId = RecordRules::DeviceIdText(ids.data() + 8);
    if (!job_.reprocessPassed && store_.hasPassed(board.record.dieId)) {
        report(board, "board", "skipped", "passed before");
        return BoardOutcome::Skipped;
    }
    return runSteps(board);
}

BoardOutcome StationSequence::runSteps(Board& board) {
    RunRecord& record = board.record;
    record.serial = store_.serialFor(record.dieId, record.chipId);
    record.station = job_.station;
    record.port = board.port;
    record.recipe = job_.recipe;
    record.imageSha256 = job_.imageSha256;
    record.startedAt = UtcNow();
    record.id = store_.beginRun(record);
    report(board, StationStep::Identify, "done");

    const bool passed =
        (!job_.image || step(board, StationStep::Flash, [&] { return flash(board); })) &&
        (!job_.image || !job_.verify ||
         step(board, StationStep::Verify, [&] { return verify(board); })) &&
        (!job_.reference || step(board, StationStep::Config, [&] { return writeConfig(board); })) &&
        (!job_.reference || step(board, StationStep::Readback, [&] { return readBack(board); })) &&
        (job_.soak.seconds <= 0 || step(board, StationStep::Soak, [&] { return soak(board); }));
    record.result = passed ? RunResult::Passed : RunResult::Failed;
    record.finishedAt = UtcNow();
    record.steps = board.steps.dump();
    store_.finishRun(record);
    report(board, "board", passed ? "passed" : "failed", record.error);
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
    CliChannel& channel = board.session.channel();
    channel.transferBytes = job_.image;
    channel.onProgress = [&](std::uint32_t done, std::uint32_t total) {
        report(board, StationStep::Flash, "progress", {}, done, total);
    };
    board.session.worker().setFlashPolling(job_.pollFlash);
    const auto& outcome = board.session.run(WorkerRequest::LoadFirmware);
    channel.onProgress = nullptr;
    if (!outcome.done || !outcome.hasStatus(LinkStatus::FirmwareFinished)) {
        return OperationText(outcome);
    }
    return {};
}

std::string StationSequence::verify(Board& board) {
    const std::vector<std::uint8_t>& image = *job_.image;
    const auto length = std::min<std::uint32_t>(std::uint32_t(image.size()), kFlashLimit);
    std::vector<std::uint8_t> flash(length);
    board.session.channel().clearOutcome();
    const int result = board.session.worker().ReadFlash(0, length, flash.data());
    if (result < 0) {
        const std::string text = FailureText(board.session.channel().outcome);
        return "the flash could not be read back: " + (text.empty() ? LinkErrorText(result) : text);
    }
    const auto mismatch = std::mismatch(flash.begin(), flash.end(), image.begin());
    if (mismatch.first == flash.end()) return {};
    char address[16];
    std::snprintf(address, sizeof address, "0x%06X", unsigned(mismatch.first - flash.begin()));
    return std::string("the flash differs from the image first at ") + address;
}

std::string StationSequence::writeConfig(Board& board) {
    board.written = IdentityRecord(*job_.reference, board.record.serial, board.record.dieId,
                                   job_.date, job_.descriptionTemplate);
    const DeviceIds& ids = board.session.worker().deviceIds();
    std::copy(ids.begin(), ids.end(), board.written.bytes.begin() + ConfigOffset::DieId);
    // The whole record, identity included, as a write at full service level sends it.
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(
        board.written.bytes.begin(),
        board.written.bytes.begin() + WriteExtent(ServiceLevel::FullService));
    board.record.configSha256 = Sha256Hex(*bytes);
    board.session.channel().transferBytes = bytes;
    const auto& outcome = board.session.run(WorkerRequest::WriteConfig);
    if (!outcome.done || !outcome.hasStatus(LinkStatus::WriteFinished)) {
        return OperationText(outcome);
    }
    return {};
}

std::string StationSequence::readBack(Board& board) {
    const auto& outcome = board.session.run(WorkerRequest::ReadConfig);
    if (!outcome.snapshot || !outcome.hasStatus(LinkStatus::ReadFinished)) {
        return OperationText(outcome);
    }
    std::string differing;
    for (const FieldDifference& difference :
         DiffSnapshots(board.written, *outcome.snapshot, TCrc())) {
        differing += (differing.empty() ? "" : ", ") + difference.name + " (written " +
                     difference.first + ", read " + difference.second + ")";
    }
    return differing.empty() ? std::string() : "the board holds other values: " + differing;
}

std::string StationSequence::soak(Board& board) {
    const auto& reset = board.session.run(WorkerRequest::ResetStatistics);
    if (!reset.statistics) return OperationText(reset);
    clock_.sleepMs(std::uint32_t(job_.soak.seconds * 1000));
    const auto& outcome = board.session.run(WorkerRequest::ReadStatistics);
    if (!outcome.statistics) return OperationText(outcome);
    const LinkStatisticsReply& reply = *outcome.statistics;
    if (reply.received < kSoakReplyBytes) return "the statistics reply was too short";
    const auto word = [&](int index) {
        return StatisticsRules::wordAt(reply.record.data(), index);
    };
    RunRecord& record = board.record;
    record.soakErroneousPercent = StatisticsRules::percentageValue(word(kErroneousWord));
    record.soakLostPercent = StatisticsRules::percentageValue(word(kLostWord));
    record.soakJitterMs = StatisticsRules::millisecondsValue(word(kJitterWord));
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
