// Every worker operation against a board that fails at every transfer and at every
// reply, in each way a board or its cable can fail: what the windows hear, what the
// link does afterwards, that no data is lost, and that the next operation on a
// healthy board works with the same worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "config/ConfigImage.h"
#include "tests/support/WorkerFixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Values = std::vector<std::intptr_t>;

// How the operation's own window learns of a failure.
enum class Reaction { CloseWindow, StopWindow, Nothing };

struct Operation {
    const char* name;
    WorkerRequest request;
    WindowId window;
    Reaction linkNotOpened;
    Reaction failedExchange;
    std::intptr_t startedStatus;  // 0: the operation reports no start
};

const Operation kOperations[] = {
    {"ReadConfig", WorkerRequest::ReadConfig, WindowId::FRead, Reaction::CloseWindow,
     Reaction::CloseWindow, LinkStatus::ReadStarted},
    {"WriteConfig", WorkerRequest::WriteConfig, WindowId::FSave, Reaction::CloseWindow,
     Reaction::CloseWindow, LinkStatus::WriteStarted},
    {"LoadFirmware", WorkerRequest::LoadFirmware, WindowId::FFlash, Reaction::CloseWindow,
     Reaction::CloseWindow, LinkStatus::FirmwareStarted},
    {"ReadStatistics", WorkerRequest::ReadStatistics, WindowId::FReport, Reaction::CloseWindow,
     Reaction::Nothing, 0},
    {"ResetStatistics", WorkerRequest::ResetStatistics, WindowId::FReport, Reaction::CloseWindow,
     Reaction::Nothing, 0},
    {"SendCodec", WorkerRequest::SendCodec, WindowId::FCodec, Reaction::StopWindow,
     Reaction::StopWindow, 0},
    {"SendAmplifier", WorkerRequest::SendAmplifier, WindowId::FAudio, Reaction::StopWindow,
     Reaction::StopWindow, 0},
    {"SendVocoder", WorkerRequest::SendVocoder, WindowId::FVocoder, Reaction::StopWindow,
     Reaction::StopWindow, 0},
    {"SendRecorder", WorkerRequest::SendRecorder, WindowId::FRecoder, Reaction::StopWindow,
     Reaction::StopWindow, 0},
    {"SetTrace", WorkerRequest::SetTrace, WindowId::FTrace, Reaction::StopWindow,
     Reaction::StopWindow, 0},
    {"PollTrace", WorkerRequest::PollTrace, WindowId::FTrace, Reaction::StopWindow,
     Reaction::StopWindow, 0},
};

struct Scenario {
    const Operation* operation;
    std::uint16_t capacity;
    bool bootMode;  // firmware download to the boot loader
};

std::string scenarioName(const ::testing::TestParamInfo<Scenario>& info) {
    return std::string(info.param.operation->name) + (info.param.bootMode ? "Boot" : "") +
           "Capacity" + std::to_string(info.param.capacity);
}

// What ctest shows beside the test's name: the scenario's own name, not its bytes.
void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenarioName({scenario, 0});
}

std::vector<Scenario> allScenarios() {
    std::vector<Scenario> scenarios;
    for (const Operation& operation : kOperations) {
        for (std::uint16_t capacity : {100, 512})
            scenarios.push_back({&operation, capacity, false});
    }
    scenarios.push_back({&kOperations[2], 512, true});
    return scenarios;
}

// --- faults and what each class of them must lead to --------------------------

enum class FaultKind {
    UsbError,    // the transfer itself fails (-EIO)
    Timeout,     // the transfer times out (-ETIMEDOUT)
    Unplug,      // the board goes away at the transfer (-ENODEV)
    NoReply,     // the board makes no reply: the read waits out its timeout
    ErrorReply,  // the read of the reply fails (-EPIPE)
    ShortReply,  // the reply is cut short
    WrongCode,   // word 0 of the reply is another command code
};

struct Fault {
    FaultKind kind;
    int index;       // bulk transfer, or reply, counted from the start of the operation
    int length = 0;  // of a short reply
};

std::string describe(const Fault& fault) {
    static const char* names[] = {"usb error",   "timeout",     "unplug",    "no reply",
                                  "error reply", "short reply", "wrong code"};
    return std::string(names[int(fault.kind)]) + " at " + std::to_string(fault.index) +
           (fault.kind == FaultKind::ShortReply ? " cut to " + std::to_string(fault.length) : "");
}

// Failed before the link was usable (size query or identification), or during the
// operation's own exchanges.
enum class Outcome { Success, QueryFailed, ExchangeFailed };

struct Expected {
    Outcome outcome;
    int error = 0;
};

// What a reply answers, by the request that asked for it: the worker examines only some.
enum class ReplyRole { SizeQuery, Identify, EepromRead, FlashStatus, Statistics, TracePoll, Other };

std::uint16_t wordOf(const Bytes& request, int index) {
    const std::size_t at = std::size_t(index) * 2;
    return at + 1 < request.size() ? std::uint16_t(request[at] | request[at + 1] << 8) : 0;
}

ReplyRole roleOf(const Bytes& request) {
    if (request.size() == 4) return ReplyRole::SizeQuery;
    switch (wordOf(request, 0)) {
        case 1:
            return ReplyRole::Identify;
        case 3:
            return wordOf(request, 1) > 0 ? ReplyRole::EepromRead : ReplyRole::Other;
        case 2:
            return request.size() > 8 && request[8] == 0x05 ? ReplyRole::FlashStatus
                                                            : ReplyRole::Other;
        case 8:
            return ReplyRole::Statistics;
        case 6:
            return ReplyRole::TracePoll;
        default:
            return ReplyRole::Other;
    }
}

// The reply the board made to one request in the healthy run.
struct Exchange {
    Bytes request;
    Bytes reply;
};

Expected expectShortReply(const Exchange& exchange, int length) {
    const auto len = std::size_t(length);
    switch (roleOf(exchange.request)) {
        case ReplyRole::SizeQuery:
            return len < 4 ? Expected{Outcome::QueryFailed, LinkError::InvalidReply}
                           : Expected{Outcome::Success};
        case ReplyRole::EepromRead:
            // A chunk read must never take stale buffer bytes for the record.
            return len < 8u + wordOf(exchange.request, 1)
                       ? Expected{Outcome::ExchangeFailed, LinkError::InvalidReply}
                       : Expected{Outcome::Success};
        case ReplyRole::FlashStatus:
            return len < 9 ? Expected{Outcome::ExchangeFailed, LinkError::InvalidReply}
                           : Expected{Outcome::Success};
        case ReplyRole::Statistics:
        case ReplyRole::TracePoll:
            // Without word 0 the reply would read back the request's own code; a
            // statistics reply that has it is passed on however short, a trace
            // reply without a record ends the poll.
            return len < 2 ? Expected{Outcome::ExchangeFailed, LinkError::WrongReplyCode}
                           : Expected{Outcome::Success};
        case ReplyRole::Identify:
            // Without word 0 nothing shows it is the identification; missing IDs read as zero.
            return len < 2 ? Expected{Outcome::QueryFailed, LinkError::InvalidReply}
                           : Expected{Outcome::Success};
        default:
            return {Outcome::Success};
    }
}

Expected expectWrongCode(const Exchange& exchange) {
    switch (roleOf(exchange.request)) {
        case ReplyRole::Identify:
            return {Outcome::QueryFailed, LinkError::InvalidReply};
        case ReplyRole::Statistics:
        case ReplyRole::TracePoll:
            return {Outcome::ExchangeFailed, LinkError::WrongReplyCode};
        default:
            return {Outcome::Success};  // replies whose code is not examined
    }
}

// Transfers 0 to 3 and replies 0 and 1 belong to the size query and identification.
Expected expectFault(const Fault& fault, const std::vector<Exchange>& exchanges,
                     int queryTransfers) {
    const int queryReplies = queryTransfers / 2;
    auto failed = [&](int limit, int error) {
        return Expected{fault.index < limit ? Outcome::QueryFailed : Outcome::ExchangeFailed,
                        error};
    };
    switch (fault.kind) {
        case FaultKind::UsbError:
            return failed(queryTransfers, -EIO);
        case FaultKind::Timeout:
            return failed(queryTransfers, LinkError::Timeout);
        case FaultKind::Unplug:
            return failed(queryTransfers, -ENODEV);
        case FaultKind::NoReply:
            return failed(queryReplies, LinkError::Timeout);
        case FaultKind::ErrorReply:
            return failed(queryReplies, -EPIPE);
        case FaultKind::ShortReply:
            return expectShortReply(exchanges[fault.index], fault.length);
        case FaultKind::WrongCode:
            return expectWrongCode(exchanges[fault.index]);
    }
    return {Outcome::Success};
}

// Reply lengths worth trying for a reply of `full` bytes: empty, a lone byte, the header
// cut and whole, and one byte short of the whole reply.
std::vector<int> shortLengths(std::size_t full) {
    std::set<int> lengths;
    for (int length : {0, 1, 3, 7, 8, int(full) - 1}) {
        if (length >= 0 && std::size_t(length) < full) lengths.insert(length);
    }
    return {lengths.begin(), lengths.end()};
}

Bytes firmwareImage() {
    Bytes bytes(600);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7 % 255);
    return bytes;  // never 0xFF, so an erased byte is never mistaken for a programmed one
}

Bytes inverted(Bytes bytes) {
    for (auto& byte : bytes) byte ^= 0xA5;
    return bytes;
}

const Bytes kCodecPayload{0x0E, 0x12};
const Bytes kAmplifierPayload{0x2A};
const Bytes kVocoderPayload{1, 2, 3, 4, 5, 6};
const Bytes kRecorderPayload{9, 8, 7, 6, 5, 4, 3, 2};
constexpr std::uint16_t kTraceMask = 0x000F;

std::size_t firstDifference(const Bytes& actual, const Bytes& expected) {
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && actual[at] == expected[at]) ++at;
    return at;
}

}  // namespace

class RobustWorkerTest : public WorkerFixture, public ::testing::WithParamInterface<Scenario> {
protected:
    const Operation& op() const { return *GetParam().operation; }
    bool boot() const { return GetParam().bootMode; }
    int queryTransfers() const { return boot() ? 0 : 4; }

    // A fresh board with known contents; every window open.
    void prepare() {
        useBoard({.capacity = GetParam().capacity, .bootMode = GetParam().bootMode});
        if (!boot()) {
            k350sim::setEeprom(board, 0, oldRecord);
            queueTraceRecords();
        }
        openWindows();
    }

    void queueTraceRecords() {
        k350sim::pushTraceRecord(board, {0x00, 0x02, 0xAA, 0xBB});
        k350sim::pushTraceRecord(board, {0x00, 0x01, 0x00, 0x11, 0x22});
    }

    void openWindows() {
        channel.clear();
        installed.clear();
        traceLines.clear();
        statisticsSeen = 0;
        channel.open(WindowId::FDevice, keepSnapshotAndFill(installed, newRecord));
        channel.open(WindowId::FRead);
        channel.open(WindowId::FSave);
        channel.open(WindowId::FFlash, fillWith(image));
        channel.open(WindowId::FReport, [this](WorkerNotification n) {
            if (n.code == NotifyCode::Statistics) ++statisticsSeen;
        });
        openPayloadWindow(WindowId::FCodec, kCodecPayload);
        openPayloadWindow(WindowId::FAudio, kAmplifierPayload);
        openPayloadWindow(WindowId::FVocoder, kVocoderPayload);
        openPayloadWindow(WindowId::FRecoder, kRecorderPayload);
        channel.open(WindowId::FTrace, [this](WorkerNotification n) {
            if (n.code == NotifyCode::FillData) {
                auto* mask = reinterpret_cast<std::uint8_t*>(n.value);
                mask[0] = std::uint8_t(kTraceMask);
                mask[1] = std::uint8_t(kTraceMask >> 8);
            }
            if (n.code == NotifyCode::TraceLines) {
                const auto* lines = reinterpret_cast<const TraceLines*>(n.value);
                traceLines.insert(traceLines.end(), lines->begin(), lines->end());
            }
        });
    }

    void openPayloadWindow(WindowId window, const Bytes& payload) {
        channel.open(window, [payload](WorkerNotification n) {
            if (n.code != NotifyCode::FillData) return;
            std::memcpy(reinterpret_cast<std::uint8_t*>(n.value), payload.data(), payload.size());
        });
    }

    void run() { runOnce(op().request); }

    // --- the healthy run: what the board was asked, and where the data moves in steps
    void runHealthy() {
        prepare();
        k350sim::setReplyHook([this](int, const Bytes& request, Bytes& reply) {
            exchanges.push_back({request, reply});
            return 0;
        });
        run();
        k350sim::setReplyHook({});
        for (const auto& entry : k350sim::transferLog()) {
            transfers += entry.kind == k350sim::TransferKind::Write ||
                         entry.kind == k350sim::TransferKind::Read;
        }
        steps = {0};
        for (std::intptr_t done : valuesOf(op().window, NotifyCode::Progress)) steps.insert(done);
        expectSucceeded(true);
    }

    // --- one faulted run, then the same worker on the board made healthy again
    void runFaulted(const Fault& fault) {
        SCOPED_TRACE(describe(fault));
        prepare();
        plant(fault);
        run();
        const Expected expected = expectFault(fault, exchanges, queryTransfers());
        if (expected.outcome == Outcome::Success) {
            expectSucceeded(false);
        } else {
            expectFailed(expected, fault.kind == FaultKind::Unplug);
        }
        expectNothingLost(expected);
        ++faultedRuns;
        recover();
    }

    void plant(const Fault& fault) {
        // The simulator runs a copy of the hook each time: the count lives outside it.
        auto failReply = [fault](int result) {
            auto count = std::make_shared<int>(0);
            k350sim::setReplyHook([nth = fault.index, result, count](int, const Bytes&, Bytes&) {
                return (*count)++ == nth ? result : 0;
            });
        };
        switch (fault.kind) {
            case FaultKind::UsbError:
                return k350sim::failTransfer(fault.index, -EIO);
            case FaultKind::Timeout:
                return k350sim::failTransfer(fault.index, -ETIMEDOUT);
            case FaultKind::Unplug:
                return k350sim::unplugAtTransfer(fault.index);
            case FaultKind::NoReply:
                return failReply(1);
            case FaultKind::ErrorReply:
                return failReply(-EPIPE);
            case FaultKind::ShortReply:
                return k350sim::shortReply(fault.index, fault.length);
            case FaultKind::WrongCode:
                return k350sim::wrongReplyCode(fault.index, 0x7777);
        }
    }

    void recover() {
        k350sim::setReplyHook({});
        k350sim::replug(board);
        if (!boot()) queueTraceRecords();
        openWindows();
        run();
        expectSucceeded(true);
    }

    // --- outcomes
    void expectSucceeded(bool exactly) {
        EXPECT_TRUE(valuesOf(WindowId::FDevice, NotifyCode::Error).empty());
        EXPECT_EQ(worker.isLinkOpen(), !boot());
        EXPECT_FALSE(channel.closeRequested(op().window));
        switch (op().request) {
            case WorkerRequest::ReadConfig:
                return expectRead(exactly);
            case WorkerRequest::WriteConfig:
                EXPECT_EQ(eepromRecord(), *newRecord);
                EXPECT_EQ(valuesOf(WindowId::FSave, NotifyCode::Done), Values{kImageSize});
                return;
            case WorkerRequest::LoadFirmware:
                return expectDownloaded();
            case WorkerRequest::ReadStatistics:
            case WorkerRequest::ResetStatistics:
                EXPECT_EQ(statisticsSeen, 1);
                return;
            case WorkerRequest::SendCodec:
                EXPECT_FALSE(k350sim::codecWrites(board).empty());
                return expectOnlyAskedForPayload();
            case WorkerRequest::SendAmplifier:
                ASSERT_FALSE(k350sim::amplifierBytes(board).empty());
                EXPECT_EQ(k350sim::amplifierBytes(board).back(), kAmplifierPayload[0]);
                return expectOnlyAskedForPayload();
            case WorkerRequest::SendVocoder:
                EXPECT_EQ(k350sim::vocoderSettings(board), kVocoderPayload);
                return expectOnlyAskedForPayload();
            case WorkerRequest::SendRecorder:
                EXPECT_EQ(k350sim::recorderSettings(board), kRecorderPayload);
                return expectOnlyAskedForPayload();
            case WorkerRequest::SetTrace:
                EXPECT_EQ(k350sim::traceMask(board), kTraceMask);
                return expectOnlyAskedForPayload();
            case WorkerRequest::PollTrace:
                // A cut reply ends the poll early, and records a failed poll had not yet
                // drained wait on the board for the next one; nothing is ever made up.
                if (exactly) {
                    EXPECT_GE(traceLines.size(), 2u);
                } else {
                    EXPECT_LE(traceLines.size(), 2u);
                }
                EXPECT_TRUE(valuesOf(WindowId::FTrace, NotifyCode::Done).empty());
                return;
        }
    }

    void expectRead(bool exactly) {
        ASSERT_EQ(installed.size(), kSnapshotSize);
        EXPECT_EQ(Bytes(installed.begin(), installed.begin() + kImageSize), oldRecord);
        // A cut identification reply leaves the IDs zero, never stale.
        if (exactly) {
            EXPECT_NE(Bytes(installed.begin() + kImageSize, installed.end()), Bytes(16, 0));
        }
        EXPECT_EQ(valuesOf(WindowId::FRead, NotifyCode::Done), Values{kImageSize});
    }

    void expectDownloaded() {
        EXPECT_EQ(valuesOf(WindowId::FFlash, NotifyCode::Done),
                  Values{std::intptr_t(image->size())});
        if (boot()) {
            const Bytes sent = k350sim::bootBytes(board);
            ASSERT_GE(sent.size(), image->size());
            EXPECT_TRUE(std::equal(image->begin(), image->end(), sent.end() - image->size()));
        } else {
            EXPECT_EQ(flashStart(), *image);
        }
    }

    void expectOnlyAskedForPayload() {
        EXPECT_EQ(channel.codes(op().window), std::vector<std::uint32_t>{NotifyCode::FillData});
    }

    void expectFailed(const Expected& expected, bool unplugged) {
        EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error), Values{expected.error});
        EXPECT_FALSE(worker.isLinkOpen());
        EXPECT_EQ(worker.deviceIds(), DeviceIds{});
        EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
                  expectedStatuses(expected.outcome, unplugged));
        const bool queryFailed = expected.outcome == Outcome::QueryFailed;
        const Reaction reaction = queryFailed ? op().linkNotOpened : op().failedExchange;
        const auto codes = channel.codes(op().window);
        switch (reaction) {
            case Reaction::CloseWindow:
                EXPECT_TRUE(channel.closeRequested(op().window));
                EXPECT_TRUE(valuesOf(op().window, NotifyCode::Done).empty());
                if (queryFailed) {
                    EXPECT_TRUE(codes.empty());
                }
                break;
            case Reaction::StopWindow:
                EXPECT_FALSE(channel.closeRequested(op().window));
                EXPECT_EQ(valuesOf(op().window, NotifyCode::Done), Values{0});
                EXPECT_EQ(codes.back(), NotifyCode::Done);
                break;
            case Reaction::Nothing:
                EXPECT_FALSE(channel.closeRequested(op().window));
                EXPECT_TRUE(codes.empty());
                break;
        }
    }

    Values expectedStatuses(Outcome outcome, bool unplugged) const {
        if (boot()) return {LinkStatus::NoConfiguration, LinkStatus::BootStarted};
        if (outcome == Outcome::ExchangeFailed) {
            return op().startedStatus ? Values{op().startedStatus} : Values{};
        }
        // The firmware download then looks for a board in boot mode.
        if (op().request != WorkerRequest::LoadFirmware) return {};
        return {unplugged ? LinkStatus::NoBoard : LinkStatus::NoConfiguration};
    }

    // The record reaches the main window only from a complete read; the EEPROM and the
    // flash hold whole steps of the new data and the old data after them.
    void expectNothingLost(const Expected& expected) {
        const bool failed = expected.outcome != Outcome::Success;
        if (failed) {
            EXPECT_TRUE(installed.empty());
            EXPECT_TRUE(valuesOf(WindowId::FDevice, NotifyCode::ConfigData).empty());
        }
        if (op().request == WorkerRequest::WriteConfig) {
            const Bytes now = eepromRecord();
            const std::size_t written = firstDifference(now, *newRecord);
            EXPECT_EQ(Bytes(now.begin() + written, now.end()),
                      Bytes(oldRecord.begin() + written, oldRecord.end()));
            expectWholeSteps(written);
        }
        if (op().request == WorkerRequest::LoadFirmware && !boot()) {
            const Bytes now = flashStart();
            const std::size_t programmed = firstDifference(now, *image);
            EXPECT_EQ(Bytes(now.begin() + programmed, now.end()),
                      Bytes(image->size() - programmed, 0xFF));
            expectWholeSteps(programmed);
        }
        if (op().request == WorkerRequest::LoadFirmware && boot()) {
            const Bytes sent = k350sim::bootBytes(board);
            EXPECT_EQ(sent, Bytes(image->begin(), image->begin() + sent.size()));
            expectWholeSteps(sent.size());
        }
    }

    // Moved data ends at a step's end: the last one reported, or the one in hand when
    // its reply failed.
    void expectWholeSteps(std::size_t moved) {
        EXPECT_EQ(steps.count(std::intptr_t(moved)), 1u) << moved;
        const Values progress = valuesOf(op().window, NotifyCode::Progress);
        const std::intptr_t reported = progress.empty() ? 0 : progress.back();
        EXPECT_GE(std::intptr_t(moved), reported);
        auto next = steps.upper_bound(reported);
        if (next != steps.end()) {
            EXPECT_LE(std::intptr_t(moved), *next);
        }
    }

    Bytes eepromRecord() const {
        const Bytes all = k350sim::eeprom(board);
        return Bytes(all.begin(), all.begin() + kImageSize);
    }
    Bytes flashStart() const {
        const Bytes all = k350sim::flash(board);
        return Bytes(all.begin(), all.begin() + image->size());
    }

    const Bytes oldRecord = k350sim::plausibleConfiguration(0);
    const std::shared_ptr<const Bytes> newRecord =
        std::make_shared<const Bytes>(inverted(oldRecord));
    const std::shared_ptr<const Bytes> image = std::make_shared<const Bytes>(firmwareImage());
    Bytes installed;
    std::vector<std::string> traceLines;
    int statisticsSeen = 0;

    std::vector<Exchange> exchanges;  // of the healthy run
    int transfers = 0;                // bulk transfers of the healthy run
    std::set<std::intptr_t> steps;    // byte counts at which the data moves in whole steps
    int faultedRuns = 0;
};

TEST_P(RobustWorkerTest, EachFaultIsReportedLosesNothingKeepsTheLinkUsable) {
    runHealthy();
    ASSERT_GT(transfers, 0);
    for (FaultKind kind : {FaultKind::UsbError, FaultKind::Timeout, FaultKind::Unplug}) {
        for (int index = 0; index < transfers; ++index) runFaulted({kind, index});
    }
    for (int index = 0; index < int(exchanges.size()); ++index) {
        runFaulted({FaultKind::NoReply, index});
        runFaulted({FaultKind::ErrorReply, index});
        runFaulted({FaultKind::WrongCode, index});
        for (int length : shortLengths(exchanges[index].reply.size())) {
            runFaulted({FaultKind::ShortReply, index, length});
        }
    }
    RecordProperty("faultedRuns", faultedRuns);
    std::printf("[ faulted  ] %s: %d runs\n", scenarioName({GetParam(), 0}).c_str(), faultedRuns);
}

INSTANTIATE_TEST_SUITE_P(AllOperations, RobustWorkerTest, ::testing::ValuesIn(allScenarios()),
                         scenarioName);
