// k350ctl write, flash, stats, trace, show and diff against one simulated board: the same
// transfers as the terminal's for the same task, access codes, and every exit status.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "config/ConfigFile.h"
#include "config/RecordDescription.h"
#include "tests/support/CliFixture.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TypedServiceCodes.h"

namespace {

using k350sim::Bytes;
using ::testing::HasSubstr;

// A valid configuration file whose settings and board information differ from the board's.
ConfigSnapshot otherConfiguration() {
    ConfigSnapshot snapshot;
    const Bytes record = k350sim::plausibleConfiguration(1);
    std::copy(record.begin(), record.end(), snapshot.bytes.begin());
    snapshot.bytes[ConfigOffset::Codec] ^= 0x04;
    RefreshCrc(TCrc(), snapshot);
    return snapshot;
}

class CliCommandsTest : public CliFixture {
protected:
    std::string saveConfiguration(const ConfigSnapshot& snapshot, const std::string& name) {
        const std::string path = tempPath(name);
        WriteFileBytes(path, Bytes(snapshot.bytes.begin(), snapshot.bytes.end()));
        return path;
    }
};

TEST_F(CliCommandsTest, WriteSendsTheTerminalsTransfersAtEachLevel) {
    const ConfigSnapshot file = otherConfiguration();
    const std::string path = saveConfiguration(file, "other.kcf");
    for (bool full : {false, true}) {
        SCOPED_TRACE(full ? "full" : "settings only");
        auto boards = plugBoards(1);
        const auto extent = full ? 140 : 56;
        auto bytes = std::make_shared<const Bytes>(file.bytes.begin(), file.bytes.begin() + extent);
        runAsTerminal(WorkerRequest::WriteConfig, {WindowId::FSave}, fillWith(bytes));
        const auto terminal = wireOf(boards[0]);

        boards = plugBoards(1);
        std::vector<std::string> arguments = {"write", path};
        if (full) {
            arguments.insert(arguments.end(),
                             {"--full", "--other-board", "--code", TypedCode::FullService});
        }
        const CliRun result = run(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(wireOf(boards[0]), terminal);
        const Bytes eeprom = k350sim::eeprom(boards[0]);
        EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.begin() + extent, file.bytes.begin()));
        EXPECT_EQ(eeprom[57],
                  k350sim::plausibleConfiguration(0)[57] * !full + file.bytes[57] * full);
    }
}

TEST_F(CliCommandsTest, WriteRefusesABadFileAndFullWithoutTheFullServiceCode) {
    auto boards = plugBoards(1);
    ConfigSnapshot damaged = otherConfiguration();
    damaged.bytes[100] ^= 1;
    EXPECT_EQ(run({"write", saveConfiguration(damaged, "bad.kcf")}).status, 4);
    WriteFileBytes(tempPath("short.kcf"), Bytes(155, 0));
    EXPECT_EQ(run({"write", tempPath("short.kcf")}).status, 4);
    EXPECT_EQ(run({"write", tempPath("none.kcf")}).status, 4);

    const std::string good = saveConfiguration(otherConfiguration(), "good.kcf");
    const CliRun noCode = run({"write", good, "--full"});
    EXPECT_EQ(noCode.status, 2);
    EXPECT_THAT(noCode.err, HasSubstr("needs the full service code"));
    EXPECT_EQ(run({"write", good, "--full", "--code", TypedCode::Service}).status, 2);
    variables["K350_SERVICE_CODE"] = TypedCode::FullService;
    EXPECT_EQ(run({"write", good, "--full", "--other-board", "--json"}).out,
              "{\"board\":\"" + run({"list", "--json"}).out.substr(13, 7) +
                  "\",\"ok\":true,\"bytes_written\":140}\n");
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(CliCommandsTest, FlashSendsTheTerminalsTransfersThenVerifiesWithReadsThatFitTheBoard) {
    Bytes image(70000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 7 + i / 256);
    WriteFileBytes(tempPath("fw.rom"), image);
    k350sim::BoardOptions small;
    small.capacity = 300;
    auto boards = plugBoards(1, small);
    runAsTerminal(WorkerRequest::LoadFirmware, {WindowId::FFlash},
                  fillWith(std::make_shared<const Bytes>(image)));
    const auto terminal = wireOf(boards[0]);

    boards = plugBoards(1, small);
    variables["K350_SERVICE_CODE"] = TypedCode::Service;
    const CliRun plain = run({"flash", tempPath("fw.rom")});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(wireOf(boards[0]), terminal);

    k350sim::clearLog();
    const CliRun verified = run({"flash", tempPath("fw.rom"), "--verify", "--json"});
    ASSERT_EQ(verified.status, 0) << verified.err;
    EXPECT_THAT(verified.out, HasSubstr("\"mode\":\"normal\",\"bytes\":70000,\"verified\":true"));
    std::uint32_t readBack = 0, expectedAddress = 0;
    for (const Bytes& request : k350sim::requests()) {
        if (request.size() != 12 || request[0] != 2 || request[8] != 0x03) continue;
        const std::uint32_t count = request[2] | request[3] << 8;
        EXPECT_LE(count, 300u);
        EXPECT_EQ(request[4], 4);  // write count: instruction and 24-bit address
        EXPECT_EQ(std::uint32_t(request[9] << 16 | request[10] << 8 | request[11]),
                  expectedAddress);
        expectedAddress += count;
        readBack += count;
    }
    EXPECT_EQ(readBack, 70000u);
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(CliCommandsTest, VerifyCatchesAFlashThatDroppedOneBit) {
    WriteFileBytes(tempPath("fw.rom"), Bytes(1000, 0x5A));
    const auto boards = plugBoards(1);
    k350sim::setReplyHook([board = boards[0]](k350sim::DeviceId, const Bytes& request, Bytes&) {
        // The second page program, at 0x000100, loses bit 1 of its sixth byte.
        if (request.size() > 12 && request[0] == 2 && request[8] == 0x02 && request[10] == 0x01) {
            k350sim::setFlash(board, 0x105, {0x58});
        }
        return 0;
    });
    const CliRun result =
        run({"flash", tempPath("fw.rom"), "--verify", "--code", TypedCode::Service});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err,
                HasSubstr("verify failed: first difference at 0x000105 (image 0x5A, flash 0x58)"));
}

TEST_F(CliCommandsTest, FlashFallsBackToBootModeWhereVerifyIsRefused) {
    WriteFileBytes(tempPath("fw.rom"), Bytes(200, 0x11));
    k350sim::BoardOptions boot;
    boot.bootMode = true;
    const auto boards = plugBoards(1, boot);
    variables["K350_SERVICE_CODE"] = TypedCode::Service;
    EXPECT_EQ(run({"flash", tempPath("fw.rom")}).status, 0);
    EXPECT_EQ(k350sim::bootBytes(boards[0]), Bytes(200, 0x11));
    const CliRun verify = run({"flash", tempPath("fw.rom"), "--verify"});
    EXPECT_EQ(verify.status, 1);
    EXPECT_THAT(verify.err, HasSubstr("verify refused"));
}

TEST_F(CliCommandsTest, TheProgressBarIsDrawnOnlyOnATerminalAndNeverOnStandardOutput) {
    plugBoards(1);
    WriteFileBytes(tempPath("fw.rom"), Bytes(3000, 0x11));
    variables["K350_SERVICE_CODE"] = TypedCode::Service;
    const CliRun terminal = run({"flash", tempPath("fw.rom")}, true);
    EXPECT_EQ(terminal.status, 0);
    EXPECT_THAT(terminal.err, HasSubstr("[##############################] 100%  1 board"));
    EXPECT_TRUE(terminal.out.empty());
    const CliRun piped = run({"flash", tempPath("fw.rom")}, false);
    EXPECT_EQ(piped.err.find('['), std::string::npos) << piped.err;
}

TEST_F(CliCommandsTest, FlashNeedsTheServiceCodeAndAReadableImage) {
    plugBoards(1);
    WriteFileBytes(tempPath("fw.rom"), Bytes(10, 0));
    const CliRun refused = run({"flash", tempPath("fw.rom")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("flash needs the service code"));
    EXPECT_EQ(run({"flash", tempPath("fw.rom"), "--code", "lamp_harbour"}).status, 2);
    EXPECT_EQ(run({"flash", tempPath("missing.rom"), "--code", TypedCode::Service}).status, 4);
    EXPECT_EQ(run({"flash", tempPath("fw.rom"), "--code", TypedCode::FullService}).status, 0);
}

TEST_F(CliCommandsTest, StatsSendsTheTerminalsRequestsOncePerPeriod) {
    auto boards = plugBoards(1);
    runAsTerminal(
        [this](TK350& worker) {
            runRequest(worker, WorkerRequest::ResetStatistics);
            runRequest(worker, WorkerRequest::ReadStatistics);
            for (int i = 0; i < 2; ++i) {
                clock.sleepMs(2000);
                runRequest(worker, WorkerRequest::ReadStatistics);
            }
        },
        {WindowId::FReport});
    const auto terminal = wireOf(boards[0]);

    boards = plugBoards(1);
    clock.clearPauses();
    const CliRun result = run({"stats", "--reset", "--count", "3", "--period", "2"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(wireOf(boards[0]), terminal);
    EXPECT_THAT(result.out, HasSubstr("\ntime_s: 4\n"));
    EXPECT_THAT(result.out, HasSubstr("\nsync_frequency_hz: "));
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 3 * 18);

    const CliRun json = run({"stats", "--json"});
    EXPECT_THAT(json.out, HasSubstr(",\"link_erroneous_percent\":"));
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1);
}

TEST_F(CliCommandsTest, StatisticsUseTheWindowsForms) {
    auto boards = plugBoards(1);
    k350sim::setReplyHook([](k350sim::DeviceId, const Bytes& request, Bytes& reply) {
        if (request.size() == 8 && request[0] == 8) {
            const std::uint32_t words[17] = {0xFFFFFFFF, 0xFFFFFFFF, 0,     0,    0,   0,
                                             1u << 30,   0,          0,     0,    0,   0,
                                             0,          1u << 31,   46875, 9375, 8000};
            for (int i = 0; i < 17; ++i) {
                for (int b = 0; b < 4; ++b)
                    reply[8 + 4 * i + b] = std::uint8_t(words[i] >> (24 - 8 * b));
            }
        }
        return 0;
    });
    const CliRun result = run({"stats"});
    EXPECT_THAT(result.out, HasSubstr("time_s: -1\nlink_packets_sent: 4294967295\n"));
    EXPECT_THAT(result.out, HasSubstr("link_erroneous_percent: 50.0000 %\n"));
    EXPECT_THAT(result.out, HasSubstr("audio_lost_percent: 100.0000 %\n"));
    EXPECT_THAT(result.out, HasSubstr("audio_jitter_ms: 1000.0000 ms\ncpu_load_percent: 20.00\n"));
}

TEST_F(CliCommandsTest, ShortStatisticsReplyLeavesTheWordsItCutOffEmpty) {
    auto boards = plugBoards(1);
    k350sim::setReplyHook([](k350sim::DeviceId, const Bytes& request, Bytes& reply) {
        if (request.size() == 8 && request[0] == 8) {
            std::fill(reply.begin() + 8, reply.end(), 0);
            reply[8 + 3] = 7;      // time 7 s
            reply.resize(8 + 10);  // two whole words and half of the third
        }
        return 0;
    });
    const CliRun text = run({"stats"});
    EXPECT_EQ(text.status, 0);
    EXPECT_THAT(text.out, HasSubstr("time_s: 7\nlink_packets_sent: 0\nlink_bytes_sent:\n"));
    EXPECT_THAT(text.out, HasSubstr("\nsync_frequency_hz:\n"));
    const CliRun json = run({"stats", "--json"});
    EXPECT_THAT(json.out,
                HasSubstr("\"time_s\":7,\"link_packets_sent\":0,\"link_bytes_sent\":null,"));
}

TEST_F(CliCommandsTest, TraceSendsTheTerminalsRequestsAndPrintsTheWindowsLines) {
    auto boards = plugBoards(1);
    auto maskFill = [](WorkerNotification notification) {
        if (notification.code != NotifyCode::FillData) return;
        auto* word = reinterpret_cast<std::uint8_t*>(notification.value);
        word[0] = 0x05;
        word[1] = 0;
    };
    std::vector<std::string> terminalLines;
    runAsTerminal(
        [this](TK350& worker) {
            runRequest(worker, WorkerRequest::SetTrace);
            for (int i = 0; i < 5; ++i) {
                if (i > 0) clock.sleepMs(100);
                runRequest(worker, WorkerRequest::PollTrace);
            }
        },
        {WindowId::FTrace}, maskFill);
    const auto terminal = wireOf(boards[0]);

    boards = plugBoards(1);
    const CliRun result = run({"trace", "--channels", "bus-rx,link-rx", "--duration", "0.5"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(k350sim::traceMask(boards[0]), 0x05);
    EXPECT_EQ(wireOf(boards[0]), terminal);

    boards = plugBoards(1);
    k350sim::pushTraceRecord(boards[0], {0x00, 0x00, 0x7E, 0x01});
    const CliRun pushed = run({"trace", "--duration", "0"});
    EXPECT_THAT(pushed.out, ::testing::MatchesRegex("[0-9]{2}:[0-9]{2}:[0-9]{2} Bus\\+\\(RxD\\): "
                                                    "0x7E; 0x01; \n"));
}

TEST_F(CliCommandsTest, TraceEndsCleanlyOnCtrlCAndReleasesTheBoard) {
    const auto boards = plugBoards(1);
    int polls = 0;
    k350sim::setReplyHook([&](k350sim::DeviceId, const Bytes& request, Bytes& reply) {
        if (request.size() == 8 && request[0] == 6 && reply.size() == 8 && ++polls == 4) {
            interrupted = true;
        }
        return 0;
    });
    const CliRun result = run({"trace"});
    EXPECT_EQ(result.status, 0) << result.err;
    const auto wire = wireOf(boards[0]);
    ASSERT_GE(wire.size(), 2u);
    EXPECT_EQ(wire[wire.size() - 2].kind, k350sim::TransferKind::ReleaseInterface);
    EXPECT_EQ(wire.back().kind, k350sim::TransferKind::Close);
    EXPECT_EQ(run({"trace", "--channels", "bus-rx,bogus"}).status, 2);
}

TEST_F(CliCommandsTest, ShowPrintsTheSharedDescriptionOfAFileOrTheBoard) {
    plugBoards(1);
    const std::string path = tempPath("board.kcf");
    ASSERT_EQ(run({"read", "-o", path}).status, 0);
    ConfigSnapshot snapshot;
    ASSERT_EQ(LoadConfigFile(path, TCrc(), snapshot), LoadResult::Ok);
    std::string expected;
    for (const auto& field : DescribeSnapshot(snapshot, TCrc())) {
        expected += field.name + ": " + field.value + "\n";
    }
    EXPECT_EQ(run({"show", path}).out, expected);
    EXPECT_EQ(run({"show", "board"}).out, expected);
    const CliRun json = run({"show", path, "--json"});
    EXPECT_THAT(json.out, HasSubstr("{\"source\":\"" + path + "\",\"fields\":{\""));
    EXPECT_EQ(run({"show", tempPath("missing.kcf")}).status, 4);
}

TEST_F(CliCommandsTest, DiffExitsOneWhenTheConfigurationsDiffer) {
    plugBoards(1);
    const std::string board = tempPath("board.kcf");
    ASSERT_EQ(run({"read", "-o", board}).status, 0);
    const CliRun same = run({"diff", board, "board"});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, "");

    const std::string other = saveConfiguration(otherConfiguration(), "other.kcf");
    ConfigSnapshot first, second;
    LoadConfigFile(board, TCrc(), first);
    LoadConfigFile(other, TCrc(), second);
    std::string expected;
    for (const auto& difference : DiffSnapshots(first, second, TCrc())) {
        expected += difference.name + ": " + difference.first + " -> " + difference.second + "\n";
    }
    ASSERT_FALSE(expected.empty());
    const CliRun differ = run({"diff", "board", other});
    EXPECT_EQ(differ.status, 1);
    EXPECT_EQ(differ.out, expected);
    EXPECT_THAT(run({"diff", board, other, "--json"}).out,
                HasSubstr("\"equal\":false,\"differences\":[{\"name\":"));
    EXPECT_EQ(run({"diff", board, tempPath("missing.kcf")}).status, 4);

    // A byte that no decoded field shows still makes the records differ.
    ConfigSnapshot undecoded = first;
    undecoded.bytes[30] ^= 0x01;
    undecoded.bytes[44] ^= 0x01;
    RefreshCrc(TCrc(), undecoded);
    const CliRun bytes = run({"diff", board, saveConfiguration(undecoded, "undecoded.kcf")});
    EXPECT_EQ(bytes.status, 1);
    EXPECT_THAT(bytes.out, ::testing::ContainsRegex("\n.+\n"))
        << "more than the CRC word differs: " << bytes.out;
}

TEST_F(CliCommandsTest, CommandsThatNeedABoardFindNoneWithStatusThree) {
    k350sim::reset();
    k350sim::addBus();
    WriteFileBytes(tempPath("fw.rom"), Bytes(10, 0));
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"stats"},
             {"trace"},
             {"show", "board"},
             {"flash", tempPath("fw.rom"), "--code", TypedCode::Service}}) {
        EXPECT_EQ(run(arguments).status, 3) << arguments[0];
    }
}

}  // namespace
