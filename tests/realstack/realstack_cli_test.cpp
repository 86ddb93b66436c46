// k350ctl as shipped, with k350usb and libusb-1.0, on simulated boards attached at usbfs under
// umockdev: every operation end to end through the kernel's interface as a real board sees it.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "tests/realstack/RealStack.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TypedServiceCodes.h"

namespace sim = k350sim;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

sim::Bytes firmwareImage(size_t size) {
    sim::Bytes image(size);
    for (size_t i = 0; i < size; ++i) image[i] = uint8_t(i * 7 + i / 256);
    return image;
}

// The kernel names each board's port by its physical place; `list` shows it.
const std::string kPort = " \\(port [0-9]+-[0-9.]+\\)";

class RealStackCli : public RealStackTest {
protected:
    sim::DeviceId boardOnBusWithOthers(const sim::BoardOptions& options = {}) {
        const int bus = addBusWithOthers();
        const sim::DeviceId board = sim::addBoard(bus, options);
        sim::setEeprom(board, 0, sim::plausibleConfiguration(0));
        return board;
    }
};

TEST_F(RealStackCli, ListsBoardsOfTwoBusesBehindRootHubsAndOtherDevices) {
    const int first = addBusWithOthers();
    const int second = addBusWithOthers();
    const sim::DeviceId normal = sim::addBoard(first);
    sim::BoardOptions boot;
    boot.bootMode = true;
    const sim::DeviceId booting = sim::addBoard(second, boot);
    attach();
    const ProgramRun list = k350ctl({"list"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_THAT(list.out, ContainsRegex(location(normal) + kPort +
                                        "  normal  capacity 512  die 0x350A0123456789AB"));
    EXPECT_THAT(list.out, ContainsRegex(location(booting) + kPort + "  boot"));
    EXPECT_EQ(location(normal), "001/004");
    EXPECT_EQ(location(booting), "002/004");
}

TEST_F(RealStackCli, ReadsTheConfigurationByteForByte) {
    const sim::DeviceId board = boardOnBusWithOthers();
    attach();
    const ProgramRun read = k350ctl({"read", "-o", "board.kcf"});
    ASSERT_EQ(read.status, 0) << read.err;
    const sim::Bytes file = ReadFileBytes(workDir() + "/board.kcf");
    ASSERT_EQ(file.size(), 156u);
    const sim::Bytes record = sim::plausibleConfiguration(0);
    EXPECT_TRUE(std::equal(record.begin(), record.end(), file.begin()));
    EXPECT_EQ(file[140], 0x35);
    EXPECT_TRUE(sim::violations().empty());
    (void)board;
}

TEST_F(RealStackCli, WritesTheSettingsAndTheWholeRecord) {
    const sim::DeviceId board = boardOnBusWithOthers();
    attach();
    sim::Bytes snapshot = sim::plausibleConfiguration(1);
    const sim::BoardOptions own;  // the file is this board's: its die and chip IDs follow
    snapshot.insert(snapshot.end(), own.dieId.begin(), own.dieId.end());
    snapshot.insert(snapshot.end(), own.chipId.begin(), own.chipId.end());
    snapshot[2] = 0x55;    // a codec byte: one of the 56 settings bytes
    snapshot[100] = 0x42;  // in the description: only a full write carries it
    const uint16_t crc = sim::configurationCrc(snapshot);
    snapshot[0] = uint8_t(crc);
    snapshot[1] = uint8_t(crc >> 8);
    WriteFileBytes(workDir() + "/new.kcf", snapshot);

    const ProgramRun settings = k350ctl({"write", "new.kcf"});
    ASSERT_EQ(settings.status, 0) << settings.err;
    EXPECT_EQ(sim::eeprom(board)[2], 0x55);
    EXPECT_NE(sim::eeprom(board)[100], 0x42);

    const ProgramRun full =
        k350ctl({"write", "new.kcf", "--full", "--code", TypedCode::FullService});
    ASSERT_EQ(full.status, 0) << full.err;
    const sim::Bytes eeprom = sim::eeprom(board);
    EXPECT_TRUE(std::equal(snapshot.begin(), snapshot.begin() + 140, eeprom.begin()));
}

TEST_F(RealStackCli, DownloadsAndVerifiesFirmwareInNormalAndBootMode) {
    const int bus = addBusWithOthers();
    const sim::DeviceId normal = sim::addBoard(bus);
    sim::BoardOptions bootOptions;
    bootOptions.bootMode = true;
    const sim::DeviceId boot = sim::addBoard(bus, bootOptions);
    attach();
    const sim::Bytes image = firmwareImage(131072);
    WriteFileBytes(workDir() + "/fw.rom", image);

    const ProgramRun flash = k350ctl(
        {"flash", "fw.rom", "--verify", "--code", TypedCode::Service, "--board", location(normal)},
        std::chrono::seconds(120));
    ASSERT_EQ(flash.status, 0) << flash.err;
    const sim::Bytes memory = sim::flash(normal);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), memory.begin()));

    const ProgramRun download =
        k350ctl({"flash", "fw.rom", "--code", TypedCode::Service, "--board", location(boot)});
    ASSERT_EQ(download.status, 0) << download.err;
    EXPECT_EQ(sim::bootBytes(boot), image);
}

TEST_F(RealStackCli, ReadsStatisticsAndTraces) {
    const sim::DeviceId board = boardOnBusWithOthers();
    attach();
    const ProgramRun stats = k350ctl({"stats", "--count", "2", "--period", "1", "--json"});
    ASSERT_EQ(stats.status, 0) << stats.err;
    EXPECT_THAT(stats.out, HasSubstr("\"link_packets_sent\""));
    sim::pushTraceRecord(board, {0x00, 0x01, 0x00, 0x03, 0x41, 0x42, 0x43});
    const ProgramRun trace = k350ctl({"trace", "--channels", "link-rx", "--duration", "0.5"});
    ASSERT_EQ(trace.status, 0) << trace.err;
    EXPECT_EQ(sim::traceMask(board) != 0 || !trace.out.empty(), true);
}

// --- faults -------------------------------------------------------------------

TEST_F(RealStackCli, NoReplyTimesOutAndTheProgramGoesOn) {
    boardOnBusWithOthers();
    attach();
    sim::setReplyHook([](sim::DeviceId, const sim::Bytes& request, sim::Bytes&) {
        return request.size() >= 2 && request[0] == 1 ? 1
                                                      : 0;  // the identification goes unanswered
    });
    const ProgramRun read = k350ctl({"read", "-o", "board.kcf"});
    EXPECT_FALSE(read.killed);
    EXPECT_EQ(read.status, 1);
    EXPECT_THAT(read.err, HasSubstr("Error: -110"));
    EXPECT_LT(read.seconds, 20.0);
}

TEST_F(RealStackCli, ShortAndOverlongRepliesAreReportedAsSuch) {
    boardOnBusWithOthers();
    attach();
    sim::shortReply(0, 3);  // a size reply of 3 bytes
    const ProgramRun shortened = k350ctl({"read", "-o", "board.kcf"});
    EXPECT_EQ(shortened.status, 1);
    EXPECT_THAT(shortened.err, HasSubstr("Error: -1 "));

    sim::setReplyHook([](sim::DeviceId, const sim::Bytes& request, sim::Bytes& reply) {
        if (request.size() == 4) reply.resize(6, 0);  // more than the 4 bytes the size read takes
        return 0;
    });
    const ProgramRun overlong = k350ctl({"read", "-o", "board.kcf"});
    EXPECT_EQ(overlong.status, 1);
    EXPECT_THAT(overlong.err, HasSubstr("Error: -75"));
}

// A board whose identification reply is cut before both IDs is no board with IDs of zeros: no
// file, record or serial is keyed on what it did not send.
TEST_F(RealStackCli, AnIdentificationReplyTooShortForBothIdsIsInvalid) {
    const int bus = addBusWithOthers();
    sim::BoardOptions other;
    other.dieId[7] = 0x02;
    const sim::DeviceId good = sim::addBoard(bus, other);
    const sim::DeviceId cut = sim::addBoard(bus);
    attach();
    sim::setReplyHook([cut](sim::DeviceId device, const sim::Bytes& request, sim::Bytes& reply) {
        if (device == cut && request.size() == 8 && request[0] == 1) reply.resize(3);
        return 0;
    });
    const ProgramRun read = k350ctl({"read", "--board", location(cut), "-o", "board.kcf"});
    EXPECT_EQ(read.status, 1);
    EXPECT_THAT(read.err, HasSubstr("Error: -1 "));
    EXPECT_FALSE(std::filesystem::exists(workDir() + "/board.kcf"));

    const ProgramRun list = k350ctl({"list"});
    EXPECT_THAT(list.out, ContainsRegex(location(cut) + kPort + "  unusable  .*identification"));
    EXPECT_THAT(list.out, Not(HasSubstr("0x0000000000000000")));

    const ProgramRun all = k350ctl({"read", "--all", "-o", "K350-{die}.kcf"});
    EXPECT_NE(all.status, 0);
    EXPECT_EQ(ReadFileBytes(workDir() + "/K350-350A012345678902.kcf").size(), 156u);
    EXPECT_FALSE(std::filesystem::exists(workDir() + "/K350-0000000000000000.kcf"));

    // The station gives the board no serial; the other board takes the first.
    sim::setEeprom(good, 0, sim::plausibleConfiguration(0));
    k350ctl({"station", "--soak", "0.1", "--store", "line.sqlite", "--boards", "2"},
            std::chrono::seconds(15));
    const ProgramRun history = k350ctl({"history", "--store", "line.sqlite", "--json"});
    EXPECT_THAT(history.out, Not(HasSubstr("0x0000000000000000")));
    EXPECT_THAT(history.out, HasSubstr("\"serial\":\"0001\""));
    EXPECT_THAT(history.out, Not(HasSubstr("\"serial\":\"0002\"")));
}

TEST_F(RealStackCli, UnplugBeforeOrDuringATransferIsNoDevice) {
    boardOnBusWithOthers();
    attach();
    sim::unplugAtTransfer(2);  // gone before the identification request
    const ProgramRun before = k350ctl({"read", "-o", "board.kcf"});
    EXPECT_FALSE(before.killed);
    EXPECT_EQ(before.status, 1);
    EXPECT_THAT(before.err, HasSubstr("Error: -19"));
}

TEST_F(RealStackCli, UnplugWhileAReadIsInFlightIsNoDeviceNotAnEmptyReply) {
    boardOnBusWithOthers();
    attach();
    sim::unplugDuringTransfer(3);  // the identification reply's read
    const ProgramRun during = k350ctl({"read", "-o", "board.kcf"});
    EXPECT_FALSE(during.killed);
    EXPECT_EQ(during.status, 1);
    EXPECT_THAT(during.err, HasSubstr("Error: -19"));
}

TEST_F(RealStackCli, NodeWithoutWritePermissionIsReportedAsRefusedAccess) {
    const sim::DeviceId board = boardOnBusWithOthers();
    attach();
    usbfs->setNodeMode(board, 0444);  // what the node looks like without the udev rule
    const ProgramRun read = k350ctl({"read", "-o", "board.kcf"});
    EXPECT_EQ(read.status, 1);
    EXPECT_THAT(read.err, HasSubstr("access to the board was refused"));
    EXPECT_THAT(read.err, HasSubstr("70-k350.rules"));
    const ProgramRun list = k350ctl({"list"});
    EXPECT_THAT(list.out, ContainsRegex(location(board) + kPort +
                                        "  unusable  access to the board was refused"));
}

TEST_F(RealStackCli, NodeThatCannotBeOpenedAtAllIsListedAsUnusable) {
    const sim::DeviceId board = boardOnBusWithOthers();
    attach();
    usbfs->setNodeMode(board, 0000);
    const ProgramRun list = k350ctl({"list", "--json"});
    EXPECT_THAT(list.out, HasSubstr("\"mode\":\"unusable\""));
    EXPECT_THAT(list.out, HasSubstr("70-k350.rules"));
    const ProgramRun read = k350ctl({"read", "-o", "board.kcf"});
    EXPECT_EQ(read.status, 1);
    EXPECT_THAT(read.err, HasSubstr("access to the board was refused"));
}

TEST_F(RealStackCli, BusyInterfaceIsReported) {
    boardOnBusWithOthers({.refusesInterface0 = true});
    attach();
    const ProgramRun read = k350ctl({"read", "-o", "board.kcf"});
    EXPECT_EQ(read.status, 1);
    EXPECT_THAT(read.err, HasSubstr("interface cannot be claimed"));
}

// The station tells which holds a busy interface, as the kernel's usbfs says: another program's
// claim, or a kernel driver by its name.
TEST_F(RealStackCli, TheStationNamesWhatHoldsABusyInterface) {
    const int bus = addBusWithOthers();
    sim::BoardOptions driver;
    driver.kernelDriver = "cdc_acm";
    driver.dieId[7] = 0x02;
    sim::addBoard(bus, {.refusesInterface0 = true});
    sim::addBoard(bus, driver);
    attach();
    WriteFileBytes(workDir() + "/fw.rom", std::vector<std::uint8_t>(3000, 0x5A));
    const ProgramRun station =
        k350ctl({"station", "--image", "fw.rom", "--code", TypedCode::Service, "--store",
                 "line.sqlite", "--boards", "2", "--json"});
    EXPECT_EQ(station.status, 1) << station.err;
    EXPECT_THAT(station.out, HasSubstr(R"("state":"unusable","error":"held by another program)"));
    EXPECT_THAT(station.out,
                HasSubstr(R"("state":"unusable","error":"held by the kernel driver cdc_acm)"));
}

TEST_F(RealStackCli, TwoBoardsOnTwoBusesAreReadAtOnce) {
    const int first = addBusWithOthers();
    const int second = addBusWithOthers();
    sim::BoardOptions other;
    other.dieId[7] = 0x02;
    sim::addBoard(first);
    sim::addBoard(second, other);
    attach();
    const ProgramRun read = k350ctl({"read", "--all", "-o", "K350-{die}.kcf"});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(ReadFileBytes(workDir() + "/K350-350A0123456789AB.kcf").size(), 156u);
    EXPECT_EQ(ReadFileBytes(workDir() + "/K350-350A012345678902.kcf").size(), 156u);
}

// --- replies at a transfer's deadline ---------------------------------------------

// One board per offset, from 2 ms before the deadline to 2 ms after it in steps of 0.1 ms,
// all at once in one k350ctl: each one's reply `reply` is delayed by the timeout plus its offset.
class RealStackDeadline : public RealStackCli {
protected:
    static constexpr int kOffsets = 41;
    static int64_t offsetUs(int i) { return -2000 + 100 * i; }

    static std::string locationIn(const std::string& line) {
        for (size_t at = 0; at + 7 <= line.size(); ++at) {
            const std::string text = line.substr(at, 7);
            if (text[3] == '/' && std::all_of(text.begin(), text.begin() + 3, ::isdigit) &&
                std::all_of(text.begin() + 4, text.end(), ::isdigit))
                return text;
        }
        return {};
    }

    void boardsWithDelayedReply(int reply, int64_t timeoutUs) {
        const int buses[2] = {addBusWithOthers(), addBusWithOthers()};
        for (int i = 0; i < kOffsets; ++i) {
            sim::BoardOptions options;
            options.dieId[6] = uint8_t(i);
            const sim::DeviceId board = sim::addBoard(buses[i % 2], options);
            sim::delayReply(board, reply, timeoutUs + offsetUs(i));
        }
        attach();
    }

    // Every board either got its reply or timed out, and the program ended on its own.
    static void expectEveryBoardAnsweredOrTimedOut(const ProgramRun& run, const char* what) {
        EXPECT_FALSE(run.killed) << what << ": the program hung and was killed";
        std::set<std::string> answered, timedOut;
        // A board whose probe timed out is named on standard error, the others on the output.
        std::istringstream lines(run.out + "\n" + run.err);
        for (std::string line; std::getline(lines, line);) {
            const std::string board = locationIn(line);
            if (line.find("\"ok\":true") != std::string::npos) answered.insert(board);
            if (line.find("Error: -110") != std::string::npos) timedOut.insert(board);
        }
        EXPECT_EQ(answered.size() + timedOut.size(), size_t(kOffsets)) << run.out << run.err;
        for (const auto& board : answered) EXPECT_EQ(timedOut.count(board), 0u) << board;
        std::printf("%s: %zu boards answered, %zu timed out, in %.1f s\n", what, answered.size(),
                    timedOut.size(), run.seconds);
    }
};

// k350ctl first probes every board (size, identification), then reads it.
TEST_F(RealStackDeadline, IdentificationRepliesAroundTheOneSecondDeadline) {
    boardsWithDelayedReply(1, 1'000'000);
    const ProgramRun read =
        k350ctl({"read", "--all", "--json", "-o", "K350-{die}.kcf"}, std::chrono::seconds(90));
    expectEveryBoardAnsweredOrTimedOut(read, "read, 1000 ms");
}

TEST_F(RealStackDeadline, StatisticsRepliesAroundTheHundredMillisecondDeadline) {
    boardsWithDelayedReply(4, 100'000);  // after the probe's two and the operation's two
    const ProgramRun stats =
        k350ctl({"stats", "--all", "--json", "--count", "1"}, std::chrono::seconds(90));
    expectEveryBoardAnsweredOrTimedOut(stats, "stats, 100 ms");
}

}  // namespace
