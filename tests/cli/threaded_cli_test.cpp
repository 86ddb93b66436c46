// k350ctl --all: one worker per board on threads of its own, against two and eight simulated
// boards answering at once; a board unplugged midway fails alone.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "tests/support/CliFixture.h"
#include "tests/support/TypedServiceCodes.h"

namespace {

using k350sim::Bytes;
using ::testing::HasSubstr;

class ThreadedCliTest : public CliFixture {};

bool isStatusRead(const WireTransfer& transfer) {
    return transfer.kind == k350sim::TransferKind::Write && transfer.data.size() == 9 &&
           transfer.data[0] == 2 && transfer.data[8] == 0x05;
}

// What the host sent, without the status reads that found the flash busy: how often the flash is
// still busy depends on how the boards' shared clock advances, which the threads share.
std::vector<WireTransfer> withoutBusyPolls(const std::vector<WireTransfer>& wire) {
    std::vector<WireTransfer> kept;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        const bool busy = isStatusRead(wire[i]) && i + 1 < wire.size() &&
                          wire[i + 1].data.size() > 8 && (wire[i + 1].data[8] & 1);
        if (busy) {
            ++i;
            continue;
        }
        kept.push_back(wire[i]);
        // The replies carry each board's own IDs; what the host sends is what is compared.
        if (kept.back().kind == k350sim::TransferKind::Read) kept.back().data.clear();
    }
    return kept;
}

TEST_F(ThreadedCliTest, ReadAllSavesEveryBoardUnderItsDieId) {
    for (int count : {2, 8}) {
        SCOPED_TRACE(count);
        plugBoards(count);
        const CliRun result = run({"read", "--all", "-o", tempPath("k350-{die}.kcf"), "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        for (int i = 1; i <= count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "k350-350A0123456789%02X.kcf", i);
            EXPECT_EQ(std::filesystem::file_size(tempPath(name)), 156u) << name;
        }
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), count);
        EXPECT_THAT(result.err, HasSubstr(std::to_string(count) + " of " + std::to_string(count) +
                                          " boards succeeded"));
    }
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(ThreadedCliTest, FlashAllProgramsEveryBoardInNormalModeWithTheTerminalsTransfers) {
    Bytes image(40000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 13);
    {
        std::ofstream file(tempPath("fw.rom"), std::ios::binary);
        file.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }
    auto boards = plugBoards(1);
    runAsTerminal(WorkerRequest::LoadFirmware, {WindowId::FFlash},
                  fillWith(std::make_shared<const Bytes>(image)));
    const auto terminal = withoutBusyPolls(wireOf(boards[0]));

    boards = plugBoards(8);
    k350sim::BoardOptions boot;
    boot.bootMode = true;
    const auto bootBoard = k350sim::addBoard(0, boot);
    const CliRun result =
        run({"flash", "--all", tempPath("fw.rom"), "--verify", "--code", TypedCode::Service});
    // The board in boot mode was not done, and says so in the status.
    ASSERT_EQ(result.status, 1) << result.err;
    EXPECT_THAT(result.err, HasSubstr("skipped, the board is in boot mode"));
    EXPECT_TRUE(k350sim::bootBytes(bootBoard).empty());
    for (auto board : boards) {
        const Bytes flash = k350sim::flash(board);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
        // The probe that finds the boards in normal mode, then exactly the terminal's download.
        auto wire = withoutBusyPolls(wireOf(board));
        auto download = std::search(wire.begin(), wire.end(), terminal.begin(), terminal.end() - 3);
        EXPECT_NE(download, wire.end()) << "board " << board;
    }
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(ThreadedCliTest, ABoardUnpluggedDuringAllFailsAloneAndTheSummarySaysWhich) {
    const auto boards = plugBoards(8);
    const auto victim = boards[3];
    int seen = 0;
    k350sim::setReplyHook([&](k350sim::DeviceId board, const Bytes& request, Bytes&) {
        if (board == victim && request.size() == 8 && request[0] == 8 && ++seen == 2) {
            k350sim::unplug(victim);
        }
        return 0;
    });
    const CliRun result = run({"stats", "--all", "--count", "3", "--json"});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("7 of 8 boards succeeded; failed: "));
    EXPECT_THAT(result.err, HasSubstr("(the board was unplugged)"));
    std::set<std::string> succeeded, failed;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const bool ok = line.find("\"ok\":true") != std::string::npos;
        (ok ? succeeded : failed).insert(line.substr(10, 7));
    }
    EXPECT_EQ(succeeded.size(), 8u) << "the unplugged board's first reading came through";
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_THAT(result.err, HasSubstr("failed: " + *failed.begin()));
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 7 * 3 + 2);
}

TEST_F(ThreadedCliTest, TraceAllEndsEveryBoardOnCtrlC) {
    const auto boards = plugBoards(2);
    std::atomic<int> polls{0};
    k350sim::setReplyHook([&](k350sim::DeviceId, const Bytes& request, Bytes&) {
        if (request.size() == 8 && request[0] == 6 && ++polls == 40) interrupted = true;
        return 0;
    });
    const CliRun result = run({"trace", "--all"});
    EXPECT_EQ(result.status, 0) << result.err;
    for (auto board : boards) {
        EXPECT_EQ(wireOf(board).back().kind, k350sim::TransferKind::Close);
        EXPECT_EQ(k350sim::configuration(board), 2);
    }
}

}  // namespace
