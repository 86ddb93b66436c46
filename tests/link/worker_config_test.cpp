// ReadConfig and WriteConfig against the simulated board's EEPROM: the exact
// requests, chunking, pauses and notifications, and every way they can fail.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "config/ConfigImage.h"
#include "tests/support/WorkerFixture.h"

using Bytes = std::vector<std::uint8_t>;
using Received = std::vector<std::pair<std::uint32_t, std::intptr_t>>;

namespace {

Bytes pattern(std::size_t length, std::uint8_t seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = std::uint8_t(seed + i * 7);
    return bytes;
}

std::uint16_t wordOf(const Bytes& request, int index) {
    return std::uint16_t(request[2 * index] | request[2 * index + 1] << 8);
}

// The I2C requests to the EEPROM, in order.
std::vector<Bytes> eepromRequests() {
    std::vector<Bytes> found;
    for (const Bytes& request : k350sim::requests()) {
        if (request.size() >= 8 && wordOf(request, 0) == 3) found.push_back(request);
    }
    return found;
}

std::uint16_t memoryAddressOf(const Bytes& request) {
    return std::uint16_t(request[8] << 8 | request[9]);
}

int bulkTransfersIn(const std::vector<k350sim::TransferRecord>& log) {
    int count = 0;
    for (const auto& entry : log) {
        count +=
            entry.kind == k350sim::TransferKind::Write || entry.kind == k350sim::TransferKind::Read;
    }
    return count;
}

}  // namespace

class ConfigTest : public WorkerFixture {
protected:
    void SetUp() override {
        WorkerFixture::SetUp();
        prepareBoard({});
    }

    void prepareBoard(k350sim::BoardOptions options) {
        useBoard(options);
        k350sim::setEeprom(board, 0, record);
        channel.open(WindowId::FDevice, keepSnapshotAndFill(installed, toWrite));
        channel.open(WindowId::FRead);
        channel.open(WindowId::FSave);
    }

    void read() { runOnce(WorkerRequest::ReadConfig); }
    void write(Bytes bytes) {
        toWrite = std::make_shared<const Bytes>(std::move(bytes));
        runOnce(WorkerRequest::WriteConfig);
    }
    Bytes eepromRange(std::size_t from, std::size_t to) {
        Bytes all = k350sim::eeprom(board);
        return Bytes(all.begin() + from, all.begin() + to);
    }
    Bytes boardIds() {
        Bytes ids = {0x35, 0x0A, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
        const Bytes chip = {0x54, 0x49, 0x00, 0x05, 0x50, 0xC1, 0x02, 0x07};
        ids.insert(ids.end(), chip.begin(), chip.end());
        return ids;
    }
    std::vector<std::uint32_t> chunkLengths() {
        std::vector<std::uint32_t> lengths;
        for (const Bytes& request : eepromRequests()) {
            lengths.push_back(wordOf(request, 1) ? wordOf(request, 1) : wordOf(request, 2) - 2u);
        }
        return lengths;
    }
    std::vector<std::uint16_t> chunkAddresses() {
        std::vector<std::uint16_t> addresses;
        for (const Bytes& request : eepromRequests()) addresses.push_back(memoryAddressOf(request));
        return addresses;
    }

    const Bytes record = k350sim::plausibleConfiguration(1);
    std::shared_ptr<const Bytes> toWrite = std::make_shared<const Bytes>();
    Bytes installed;
};

// --- read ---------------------------------------------------------------------

TEST_F(ConfigTest, ReadWithLargeCapacityIsOneExchangeAndInstallsRecordAndIds) {
    prepareBoard({.capacity = 1000});
    read();

    const std::vector<Bytes> requests = eepromRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], (Bytes{3, 0, 140, 0, 2, 0, 0x50, 0, 0, 0}));
    for (const auto& entry : k350sim::transferLog()) {
        if (entry.kind == k350sim::TransferKind::Read && entry.endpoint == 0x81 &&
            entry.size != 4) {
            EXPECT_EQ(entry.size, 1008);
            EXPECT_EQ(entry.timeoutMs, 1000);
        }
    }
    const auto fread = channel.received(WindowId::FRead);
    ASSERT_EQ(fread.size(), 5u);
    EXPECT_EQ(fread[0].first, NotifyCode::DieId);
    EXPECT_EQ(fread[1].first, NotifyCode::ChipId);
    EXPECT_EQ(Received(fread.begin() + 2, fread.end()), (Received{{4, 140}, {9, 140}, {5, 140}}));
    EXPECT_EQ(channel.codes(WindowId::FDevice), (std::vector<std::uint32_t>{0, 0, 2, 10}));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
              (std::vector<std::intptr_t>{LinkStatus::ReadStarted, LinkStatus::ReadFinished}));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::BytesReceived),
              std::vector<std::intptr_t>{140});

    Bytes expected = record;
    const Bytes ids = boardIds();
    expected.insert(expected.end(), ids.begin(), ids.end());
    EXPECT_EQ(installed, expected);
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(ConfigTest, ReadWithCapacity100GoesInTwoChunks) {
    prepareBoard({.capacity = 100});
    read();
    EXPECT_EQ(chunkLengths(), (std::vector<std::uint32_t>{100, 40}));
    EXPECT_EQ(chunkAddresses(), (std::vector<std::uint16_t>{0, 100}));
    EXPECT_EQ(valuesOf(WindowId::FRead, NotifyCode::Progress),
              (std::vector<std::intptr_t>{100, 140}));
    EXPECT_EQ(Bytes(installed.begin(), installed.begin() + 140), record);
    EXPECT_TRUE(virtualClock.pauses().empty());
}

TEST_F(ConfigTest, ReadFailureAtEveryTransferInstallsNothingAndClosesTheLink) {
    // Capacity 100: size query, identification and two chunks, two transfers each.
    const int transfers = 8;
    for (int failing = 0; failing < transfers; ++failing) {
        SCOPED_TRACE(failing);
        prepareBoard({.capacity = 100});
        channel.clear();
        installed.clear();
        k350sim::failTransfer(failing, -EIO);
        read();

        EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error), std::vector<std::intptr_t>{-EIO});
        EXPECT_TRUE(channel.closeRequested(WindowId::FRead));
        EXPECT_TRUE(installed.empty());
        EXPECT_FALSE(worker.isLinkOpen());
        EXPECT_EQ(worker.deviceIds(), DeviceIds{});
        const auto fread = channel.codes(WindowId::FRead);
        if (failing < 4) {
            EXPECT_TRUE(fread.empty());  // the link never opened for the read
        } else {
            const std::vector<std::uint32_t> started{6, 7, 4};
            EXPECT_EQ(std::vector<std::uint32_t>(fread.begin(), fread.begin() + 3), started);
            EXPECT_EQ(fread.size(), failing < 6 ? 3u : 4u);  // one progress after the first chunk
        }
    }
}

TEST_F(ConfigTest, ShortReadReplyIsAFailedTransfer) {
    // Replies: size, identification, then the one chunk of 140 cut to 100 bytes.
    k350sim::shortReply(2, 100);
    read();
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error),
              std::vector<std::intptr_t>{LinkError::InvalidReply});
    EXPECT_TRUE(channel.closeRequested(WindowId::FRead));
    EXPECT_TRUE(installed.empty());
    EXPECT_FALSE(worker.isLinkOpen());
}

TEST_F(ConfigTest, ReadWindowClosedMidwayEndsSilently) {
    prepareBoard({.capacity = 100});
    channel.open(WindowId::FRead, [this](WorkerNotification n) {
        if (n.code == NotifyCode::Progress) channel.close(WindowId::FRead);
    });
    read();  // closed while its first progress is handled: the next notification ends it
    EXPECT_EQ(chunkLengths(), (std::vector<std::uint32_t>{100, 40}));
    EXPECT_EQ(channel.codes(WindowId::FDevice), std::vector<std::uint32_t>{0});
    EXPECT_TRUE(installed.empty());
    EXPECT_TRUE(worker.isLinkOpen());
}

// --- write --------------------------------------------------------------------

TEST_F(ConfigTest, FullWriteGoesInPagesWithTheirPausesAndNotifications) {
    const Bytes data = pattern(140, 3);
    write(data);

    const std::vector<Bytes> requests = eepromRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(chunkLengths(), (std::vector<std::uint32_t>{64, 64, 12}));
    EXPECT_EQ(chunkAddresses(), (std::vector<std::uint16_t>{0, 64, 128}));
    EXPECT_EQ(Bytes(requests[0].begin(), requests[0].begin() + 10),
              (Bytes{3, 0, 0, 0, 66, 0, 0x50, 0, 0, 0}));
    EXPECT_EQ(requests[2].size(), 22u);
    EXPECT_EQ(Bytes(requests[2].begin() + 10, requests[2].end()),
              Bytes(data.begin() + 128, data.end()));
    EXPECT_EQ(virtualClock.pauses(), (std::vector<std::uint32_t>{650, 650, 130}));
    for (const auto& entry : k350sim::transferLog()) {
        if (entry.kind == k350sim::TransferKind::Write ||
            entry.kind == k350sim::TransferKind::Read) {
            EXPECT_EQ(entry.timeoutMs, 1000);
        }
    }

    EXPECT_EQ(channel.codes(WindowId::FDevice), (std::vector<std::uint32_t>{0, 11, 0, 3}));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
              (std::vector<std::intptr_t>{LinkStatus::WriteStarted, LinkStatus::WriteFinished}));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::BytesSent), std::vector<std::intptr_t>{140});
    EXPECT_EQ(channel.codes(WindowId::FSave), (std::vector<std::uint32_t>{6, 7, 4, 9, 9, 9, 5}));
    EXPECT_EQ(valuesOf(WindowId::FSave, NotifyCode::Progress),
              (std::vector<std::intptr_t>{64, 128, 140}));
    EXPECT_EQ(valuesOf(WindowId::FSave, NotifyCode::Done), std::vector<std::intptr_t>{140});

    EXPECT_EQ(eepromRange(0, 140), data);
    EXPECT_EQ(eepromRange(140, 1024), Bytes(884, 0xFF));
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(ConfigTest, SettingsWriteTouchesOnlyTheFirst56Bytes) {
    const Bytes data = pattern(56, 9);
    write(data);
    const std::vector<Bytes> requests = eepromRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].size(), 66u);
    EXPECT_EQ(virtualClock.pauses(), std::vector<std::uint32_t>{570});
    EXPECT_EQ(eepromRange(0, 56), data);
    EXPECT_EQ(eepromRange(56, 140), Bytes(record.begin() + 56, record.end()));
}

TEST_F(ConfigTest, SmallCapacityWriteNeverCrossesAnEepromPage) {
    prepareBoard({.capacity = 40});
    const Bytes data = pattern(140, 1);
    write(data);
    EXPECT_EQ(chunkLengths(), (std::vector<std::uint32_t>{37, 27, 37, 27, 12}));
    EXPECT_EQ(chunkAddresses(), (std::vector<std::uint16_t>{0, 37, 64, 101, 128}));
    EXPECT_EQ(eepromRange(0, 140), data);
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(ConfigTest, WriteFailureAtEveryTransferKeepsTheChunksBeforeIt) {
    const Bytes data = pattern(140, 5);
    const std::vector<std::size_t> chunkEnds{64, 128, 140};
    // Size query and identification, then three chunks: request and reply each.
    for (int failing = 0; failing < 10; ++failing) {
        SCOPED_TRACE(failing);
        prepareBoard({});
        channel.clear();
        k350sim::failTransfer(failing, -ETIMEDOUT);
        write(data);

        EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error),
                  std::vector<std::intptr_t>{-ETIMEDOUT});
        EXPECT_TRUE(channel.closeRequested(WindowId::FSave));
        EXPECT_FALSE(worker.isLinkOpen());
        EXPECT_TRUE(valuesOf(WindowId::FSave, NotifyCode::Done).empty());
        // A chunk whose request got through is in the EEPROM, even if its reply failed.
        const int chunk = (failing - 4) / 2;
        const std::size_t written = failing < 4        ? 0
                                    : failing % 2 == 0 ? (chunk ? chunkEnds[chunk - 1] : 0)
                                                       : chunkEnds[chunk];
        EXPECT_EQ(eepromRange(0, written), Bytes(data.begin(), data.begin() + written));
        EXPECT_EQ(eepromRange(written, 140), Bytes(record.begin() + written, record.end()));
    }
}

TEST_F(ConfigTest, WriteWindowClosedMidwayEndsAfterTheChunkInHand) {
    channel.open(WindowId::FSave, [this](WorkerNotification n) {
        if (n.code == NotifyCode::Progress) channel.close(WindowId::FSave);
    });
    const Bytes data = pattern(140, 2);
    write(data);  // closed during the first progress: the second chunk is the one in hand
    EXPECT_EQ(chunkLengths(), (std::vector<std::uint32_t>{64, 64}));
    EXPECT_EQ(eepromRange(0, 128), Bytes(data.begin(), data.begin() + 128));
    EXPECT_EQ(eepromRange(128, 140), Bytes(record.begin() + 128, record.end()));
    EXPECT_EQ(channel.codes(WindowId::FDevice), (std::vector<std::uint32_t>{0, 11}));
}

TEST_F(ConfigTest, SizeQueryRefusesACapacityBelowTheIdentificationReply) {
    prepareBoard({.capacity = 2});
    write(pattern(140, 0));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error),
              std::vector<std::intptr_t>{LinkError::InvalidReply});
    EXPECT_TRUE(channel.closeRequested(WindowId::FSave));
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_TRUE(eepromRequests().empty());

    prepareBoard({.capacity = 1});
    read();
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error),
              (std::vector<std::intptr_t>{LinkError::InvalidReply, LinkError::InvalidReply}));
    EXPECT_TRUE(channel.closeRequested(WindowId::FRead));
    EXPECT_TRUE(eepromRequests().empty());
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(ConfigTest, InconsistentTransferDataNeverReadsPastItsOwner) {
    auto owner = std::make_shared<const Bytes>(pattern(100, 4));
    channel.open(WindowId::FDevice, [owner](WorkerNotification n) {
        if (n.code != NotifyCode::FillData) return;
        auto* transfer = reinterpret_cast<TransferData*>(n.value);
        transfer->owner = owner;
        transfer->data = owner->data() + 40;
        transfer->count = 100000;  // far past the 60 bytes that are there
    });
    runOnce(WorkerRequest::WriteConfig);
    EXPECT_EQ(valuesOf(WindowId::FSave, NotifyCode::Total), std::vector<std::intptr_t>{60});
    EXPECT_EQ(eepromRange(0, 60), Bytes(owner->begin() + 40, owner->end()));
    EXPECT_EQ(eepromRange(60, 140), Bytes(record.begin() + 60, record.end()));

    channel.clear();
    channel.open(WindowId::FSave);
    channel.open(WindowId::FDevice, [](WorkerNotification n) {
        if (n.code == NotifyCode::FillData) reinterpret_cast<TransferData*>(n.value)->count = 140;
    });
    runOnce(WorkerRequest::WriteConfig);  // a count without bytes writes nothing
    EXPECT_EQ(valuesOf(WindowId::FSave, NotifyCode::Total), std::vector<std::intptr_t>{0});
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::BytesSent), std::vector<std::intptr_t>{0});
}

TEST_F(ConfigTest, BytesOwnedOnlyByTheTransferOutliveTheNotification) {
    channel.open(WindowId::FDevice, [](WorkerNotification n) {
        if (n.code != NotifyCode::FillData) return;
        auto* transfer = reinterpret_cast<TransferData*>(n.value);
        transfer->owner =
            std::make_shared<const Bytes>(pattern(140, 8));  // the window keeps no copy
        transfer->data = transfer->owner->data();
        transfer->count = 140;
    });
    runOnce(WorkerRequest::WriteConfig);
    EXPECT_EQ(eepromRange(0, 140), pattern(140, 8));
}

TEST_F(ConfigTest, LinkNotOpenedClosesTheProgressWindow) {
    emptyWorld();  // no board at all
    read();
    runOnce(WorkerRequest::WriteConfig);
    EXPECT_TRUE(channel.closeRequested(WindowId::FRead));
    EXPECT_TRUE(channel.closeRequested(WindowId::FSave));
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
              (std::vector<std::intptr_t>{LinkStatus::NoBoard, LinkStatus::NoBoard}));
    EXPECT_EQ(bulkTransfersIn(k350sim::transferLog()), 0);
}
