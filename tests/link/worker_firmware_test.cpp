// LoadFirmware against the simulated board's SPI flash and boot loader: the
// request sequence, chunking, erases, pauses, notifications and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "tests/support/WorkerFixture.h"

using Bytes = std::vector<std::uint8_t>;
using Values = std::vector<std::intptr_t>;
using Codes = std::vector<std::uint32_t>;

namespace {

constexpr std::uint32_t kSector = 0x8000;
constexpr std::uint32_t kFlashLimit = 0x20000;

Bytes image(std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = std::uint8_t(i * 31 + i / 256);
    return bytes;
}

struct Program {
    std::uint32_t address;
    std::uint32_t length;
    bool operator==(const Program&) const = default;
};

std::uint32_t flashAddressOf(const Bytes& request) {
    return std::uint32_t(request[9]) << 16 | std::uint32_t(request[10]) << 8 | request[11];
}

// The flash instructions the host sent, in order (0x05 status, 0x06 write enable, ...).
Bytes flashInstructions() {
    Bytes instructions;
    for (const Bytes& request : k350sim::requests()) {
        if (request.size() > 8 && request[0] == 2) instructions.push_back(request[8]);
    }
    return instructions;
}

std::vector<Program> programs() {
    std::vector<Program> found;
    for (const Bytes& request : k350sim::requests()) {
        if (request.size() > 12 && request[0] == 2 && request[8] == 0x02) {
            found.push_back({flashAddressOf(request), std::uint32_t(request.size() - 12)});
        }
    }
    return found;
}

Bytes flashRange(k350sim::DeviceId board, std::size_t from, std::size_t to) {
    const Bytes all = k350sim::flash(board);
    return Bytes(all.begin() + from, all.begin() + to);
}

}  // namespace

class FirmwareTest : public WorkerFixture {
protected:
    void SetUp() override {
        WorkerFixture::SetUp();
        openWindows();
    }
    void openWindows() {
        channel.open(WindowId::FDevice);
        channel.open(WindowId::FFlash, [this](WorkerNotification n) { fillWith(loaded)(n); });
    }
    void download(Bytes bytes) {
        loaded = std::make_shared<const Bytes>(std::move(bytes));
        runOnce(WorkerRequest::LoadFirmware);
    }
    void expectFlashHolds(const Bytes& bytes) {
        const std::size_t programmed = std::min<std::size_t>(bytes.size(), kFlashLimit);
        EXPECT_EQ(flashRange(board, 0, programmed),
                  Bytes(bytes.begin(), bytes.begin() + programmed));
    }

    std::shared_ptr<const Bytes> loaded;
};

TEST_F(FirmwareTest, SmallImageErasesSectorZeroAndProgramsWholePages) {
    const Bytes bytes = image(1000);
    download(bytes);

    EXPECT_EQ(k350sim::eraseLog(board), std::vector<std::uint32_t>{0});
    EXPECT_EQ(programs(), (std::vector<Program>{{0, 256}, {256, 256}, {512, 256}, {768, 232}}));
    // Status, write enable, erase; then status, write enable, program per chunk; a last status.
    const Bytes perChunk{0x05, 0x06, 0x02};
    Bytes expected{0x05, 0x06, 0xD8};
    for (int i = 0; i < 4; ++i) expected.insert(expected.end(), perChunk.begin(), perChunk.end());
    expected.push_back(0x05);
    EXPECT_EQ(flashInstructions(), expected);
    EXPECT_EQ(virtualClock.pauses(), (std::vector<std::uint32_t>{800, 1, 1, 1}));
    for (const auto& entry : k350sim::transferLog()) {
        if (entry.kind == k350sim::TransferKind::Write ||
            entry.kind == k350sim::TransferKind::Read) {
            EXPECT_EQ(entry.timeoutMs, 1000);
        }
    }
    const std::vector<k350sim::Bytes> sent = k350sim::requests();
    EXPECT_EQ(sent[2], (k350sim::Bytes{2, 0, 1, 0, 1, 0, 4, 0, 0x05}));
    EXPECT_EQ(sent[3], (k350sim::Bytes{2, 0, 0, 0, 1, 0, 4, 0, 0x06}));
    EXPECT_EQ(sent[4], (k350sim::Bytes{2, 0, 0, 0, 4, 0, 4, 0, 0xD8, 0, 0, 0}));
    EXPECT_EQ(k350sim::Bytes(sent[7].begin(), sent[7].begin() + 12),
              (k350sim::Bytes{2, 0, 0, 0, 4, 1, 4, 0, 0x02, 0, 0, 0}));
    EXPECT_EQ(sent[7].size(), 268u);

    EXPECT_EQ(channel.codes(WindowId::FFlash), (Codes{11, 6, 7, 4, 9, 9, 9, 9, 9, 9, 5}));
    EXPECT_EQ(valuesOf(WindowId::FFlash, NotifyCode::Total), Values{1000});
    EXPECT_EQ(valuesOf(WindowId::FFlash, NotifyCode::Progress),
              (Values{0, 0, 256, 512, 768, 1000}));
    EXPECT_EQ(valuesOf(WindowId::FFlash, NotifyCode::Done), Values{1000});
    EXPECT_EQ(channel.codes(WindowId::FDevice), (Codes{0, 0, 3}));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
              (Values{LinkStatus::FirmwareStarted, LinkStatus::FirmwareFinished}));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::BytesSent), Values{1000});

    expectFlashHolds(bytes);
    EXPECT_EQ(flashRange(board, 1000, kSector), Bytes(kSector - 1000, 0xFF));
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(FirmwareTest, ChunkThatWouldMakeA192ByteRequestIsShortened) {
    download(image(180));
    EXPECT_EQ(programs(), (std::vector<Program>{{0, 179}, {179, 1}}));
    expectFlashHolds(image(180));
}

TEST_F(FirmwareTest, SectorsAreErasedOnlyWhenProgrammingReachesThem) {
    download(image(kSector));
    EXPECT_EQ(k350sim::eraseLog(board), std::vector<std::uint32_t>{0});
    expectFlashHolds(image(kSector));

    k350sim::clearLog();
    download(image(kSector + 0x100));
    EXPECT_EQ(k350sim::eraseLog(board), (std::vector<std::uint32_t>{0, 0, kSector}));
    const Bytes order = flashInstructions();
    // The second sector's erase comes after the last program of the first one.
    const auto erase = std::find(order.rbegin(), order.rend(), 0xD8);
    EXPECT_EQ(std::count(order.rbegin(), erase, 0x02), 1);
    EXPECT_EQ(programs().back(), (Program{kSector, 256}));
    expectFlashHolds(image(kSector + 0x100));
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(FirmwareTest, ProgrammingStopsAtTheEndOfTheFlashArea) {
    const Bytes bytes = image(kFlashLimit + 300);
    download(bytes);
    EXPECT_EQ(k350sim::eraseLog(board),
              (std::vector<std::uint32_t>{0, kSector, 2 * kSector, 3 * kSector}));
    EXPECT_EQ(programs().size(), 512u);
    EXPECT_EQ(valuesOf(WindowId::FFlash, NotifyCode::Done), Values{131072});
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::BytesSent), Values{131072});
    expectFlashHolds(bytes);
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(FirmwareTest, SmallCapacityProgramsWithinPages) {
    useBoard({.capacity = 100});
    openWindows();
    download(image(1000));
    const std::vector<Program> chunks = programs();
    ASSERT_GE(chunks.size(), 4u);
    EXPECT_EQ(std::vector<Program>(chunks.begin(), chunks.begin() + 4),
              (std::vector<Program>{{0, 96}, {96, 96}, {192, 64}, {256, 96}}));
    expectFlashHolds(image(1000));
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(FirmwareTest, EmptyImageCompletesWithNothingProgrammed) {
    download({});
    EXPECT_EQ(channel.codes(WindowId::FFlash), (Codes{11, 6, 7, 4, 9, 5}));
    EXPECT_EQ(valuesOf(WindowId::FFlash, NotifyCode::Done), Values{0});
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
              (Values{LinkStatus::FirmwareStarted, LinkStatus::FirmwareFinished}));
    EXPECT_TRUE(k350sim::eraseLog(board).empty());
}

TEST_F(FirmwareTest, BootModeBoardGetsTheWholeImageInBlocks) {
    useBoard({.bootMode = true});
    openWindows();
    const Bytes bytes = image(200);
    download(bytes);

    EXPECT_EQ(k350sim::bootBytes(board), bytes);
    std::vector<int> blocks;
    for (const auto& entry : k350sim::transferLog()) {
        if (entry.kind == k350sim::TransferKind::Write) {
            EXPECT_EQ(entry.endpoint, 0x06);
            EXPECT_EQ(entry.timeoutMs, 1000);
            blocks.push_back(int(entry.data.size()));
        }
    }
    EXPECT_EQ(blocks, (std::vector<int>{64, 64, 64, 8}));
    EXPECT_EQ(channel.codes(WindowId::FFlash), (Codes{11, 4, 9, 9, 9, 9, 5}));
    EXPECT_EQ(valuesOf(WindowId::FFlash, NotifyCode::Progress), (Values{64, 128, 192, 200}));
    EXPECT_EQ(
        valuesOf(WindowId::FDevice, NotifyCode::Status),
        (Values{LinkStatus::NoConfiguration, LinkStatus::BootStarted, LinkStatus::BootFinished}));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::BytesSent), Values{200});
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_EQ(k350sim::configuration(board), 1);
}

TEST_F(FirmwareTest, NoBoardInEitherModeClosesTheWindow) {
    emptyWorld();
    download(image(10));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
              (Values{LinkStatus::NoBoard, LinkStatus::NoBoard}));
    EXPECT_TRUE(channel.closeRequested(WindowId::FFlash));
    EXPECT_TRUE(channel.codes(WindowId::FFlash).empty());
}

TEST_F(FirmwareTest, FlashThatNeverBecomesReadyTimesOutAfterTenSeconds) {
    k350sim::setFlashNeverReady(board, true);
    download(image(1000));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error), Values{LinkError::Timeout});
    EXPECT_TRUE(channel.closeRequested(WindowId::FFlash));
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_GT(virtualClock.nowUs(), 10'000'000);
    EXPECT_LT(virtualClock.nowUs(), 10'100'000);
    EXPECT_TRUE(programs().empty());
}

TEST_F(FirmwareTest, SizeQueryRefusesACapacityBelowTheIdentificationReply) {
    useBoard({.capacity = 4});
    openWindows();
    download(image(100));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error), Values{LinkError::InvalidReply});
    EXPECT_TRUE(channel.closeRequested(WindowId::FFlash));
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_TRUE(flashInstructions().empty());
}

TEST_F(FirmwareTest, FailureAtEveryTransferLeavesFlashAsFarAsItGot) {
    const Bytes bytes = image(300);
    // Size query and identification (4), then three passes of status, write enable and
    // erase or program, and the last status: 2 transfers each.
    const int transfers = 4 + 2 * 10;
    for (int failing = 0; failing < transfers; ++failing) {
        SCOPED_TRACE(failing);
        useBoard({});
        openWindows();
        channel.clear();
        k350sim::failTransfer(failing, -EPIPE);
        download(bytes);

        EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error), Values{-EPIPE});
        EXPECT_TRUE(channel.closeRequested(WindowId::FFlash));
        EXPECT_FALSE(worker.isLinkOpen());
        EXPECT_TRUE(valuesOf(WindowId::FFlash, NotifyCode::Done).empty());
        if (failing < 4) {  // normal mode never started; boot mode found no boot loader
            EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
                      Values{LinkStatus::NoConfiguration});
            continue;
        }
        EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
                  Values{LinkStatus::FirmwareStarted});
        std::size_t programmed = 0;
        while (programmed < bytes.size() && k350sim::flash(board)[programmed] == bytes[programmed])
            ++programmed;
        EXPECT_TRUE(programmed == 0 || programmed == 256 || programmed == 300) << programmed;
        EXPECT_EQ(flashRange(board, programmed, 1024), Bytes(1024 - programmed, 0xFF));
    }
}

TEST_F(FirmwareTest, BootModeFailureClosesWindowAndLink) {
    for (int failing = 0; failing < 4; ++failing) {
        SCOPED_TRACE(failing);
        useBoard({.bootMode = true});
        openWindows();
        channel.clear();
        k350sim::failTransfer(failing, -EIO);
        download(image(200));
        EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error), Values{-EIO});
        EXPECT_TRUE(channel.closeRequested(WindowId::FFlash));
        EXPECT_FALSE(worker.isLinkOpen());
        EXPECT_EQ(k350sim::bootBytes(board).size(), std::size_t(64 * failing));
    }
}

TEST_F(FirmwareTest, WindowClosedMidDownloadEndsItWhileTheImageStaysValid) {
    // The window lets go of its image when it closes: only the worker's hold keeps it.
    auto windowImage = std::make_shared<const Bytes>(image(1000));
    std::weak_ptr<const Bytes> watch = windowImage;
    channel.open(WindowId::FFlash, [&](WorkerNotification n) {
        if (n.code == NotifyCode::FillData) fillWith(windowImage)(n);
        if (n.code == NotifyCode::Progress && n.value == 256) {
            channel.close(WindowId::FFlash);
            windowImage.reset();
        }
    });
    runOnce(WorkerRequest::LoadFirmware);

    // Closed while handling progress 256: the chunk at 256 is programmed, then the next progress
    // ends it.
    EXPECT_EQ(programs(), (std::vector<Program>{{0, 256}, {256, 256}}));
    EXPECT_EQ(channel.codes(WindowId::FDevice), Codes{0});
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_TRUE(watch.expired());  // released when the operation ended
    EXPECT_EQ(flashRange(board, 0, 512), Bytes(image(512)));
    EXPECT_EQ(flashRange(board, 512, 1000), Bytes(488, 0xFF));
}

// Polling: no pause at all; the status poll right after each erase and program waits exactly
// as long as the flash is busy, so the download takes the flash's own time plus the transfers.
TEST_F(FirmwareTest, PollingReplacesThePausesByStatusPollsAndProgramsTheSameBytes) {
    worker.setFlashPolling(true);
    const Bytes bytes = image(kSector + 1000);
    download(bytes);

    EXPECT_TRUE(virtualClock.pauses().empty());
    EXPECT_EQ(k350sim::eraseLog(board), (std::vector<std::uint32_t>{0, kSector}));
    expectFlashHolds(bytes);
    EXPECT_EQ(valuesOf(WindowId::FFlash, NotifyCode::Done), Values{kSector + 1000});
    EXPECT_TRUE(k350sim::violations().empty());
    // Two 250 ms erases and 132 program cycles of 0.7 ms, plus one 1 ms frame per transfer.
    const std::int64_t busyUs = 2 * 250'000 + 132 * 700;
    const auto transfers = std::int64_t(k350sim::transferLog().size());
    EXPECT_LE(virtualClock.nowUs(), busyUs + transfers * 1000);
    const Bytes instructions = flashInstructions();
    EXPECT_GT(std::count(instructions.begin(), instructions.end(), 0x05), 132 + 2);
}

TEST_F(FirmwareTest, PollingStillGivesUpOnAFlashBusyForTenSeconds) {
    worker.setFlashPolling(true);
    download(image(1000));
    k350sim::clearLog();
    k350sim::setFlashNeverReady(board, true);
    download(image(1000));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error), Values{LinkError::Timeout});
    EXPECT_TRUE(channel.closeRequested(WindowId::FFlash));
}
