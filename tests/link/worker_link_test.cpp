// The worker's link layer against the simulated board: finding and opening the
// board, the size and identification queries, the request events and the exit.
#include <gtest/gtest.h>

#include "link/BoardLink.h"
#include "link/DirectObserver.h"
#include "tests/support/WorkerFixture.h"

using k350sim::TransferKind;
using Values = std::vector<std::intptr_t>;

namespace {

const DeviceIds kDefaultIds{0x35, 0x0A, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB,
                            0x54, 0x49, 0x00, 0x05, 0x50, 0xC1, 0x02, 0x07};

k350sim::BoardOptions withDieByte(std::uint8_t first, k350sim::BoardOptions options = {}) {
    options.dieId[0] = first;
    return options;
}

std::vector<k350sim::TransferRecord> entriesOf(TransferKind kind) {
    std::vector<k350sim::TransferRecord> found;
    for (const auto& entry : k350sim::transferLog()) {
        if (entry.kind == kind) found.push_back(entry);
    }
    return found;
}

}  // namespace

class LinkTest : public WorkerFixture {
protected:
    void openAndQuery() {
        worker.OpenLink(K350Usb::NormalConfiguration);
        worker.QueryLink();
    }
    // Replaces the world by one bus holding these boards, in order.
    std::vector<k350sim::DeviceId> boardsOnOneBus(std::vector<k350sim::BoardOptions> options) {
        useBoard(options.front());
        std::vector<k350sim::DeviceId> ids{board};
        for (std::size_t i = 1; i < options.size(); ++i)
            ids.push_back(k350sim::addBoard(0, options[i]));
        return ids;
    }
    void expectClosedAfterError(std::intptr_t error) {
        EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Error), Values{error});
        EXPECT_FALSE(worker.isLinkOpen());
        EXPECT_EQ(worker.deviceIds(), DeviceIds{});
    }
};

TEST_F(LinkTest, OpensTheBoardAndLearnsItsCapacityAndIds) {
    openAndQuery();
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_EQ(worker.bufferSize(), 512u + 8u);
    EXPECT_EQ(worker.deviceIds(), kDefaultIds);
    EXPECT_EQ(k350sim::requests(),
              (std::vector<k350sim::Bytes>{{0, 0, 0, 0x40}, {1, 0, 16, 0, 0, 0, 0, 0x38}}));
    EXPECT_EQ(k350sim::configuration(board), 2);
    EXPECT_TRUE(channel.events().empty());
    EXPECT_TRUE(k350sim::violations().empty());
}

TEST_F(LinkTest, QuickReopenFindsTheBoardBehindTheRootHubAndOtherDevicesWithoutAScan) {
    emptyWorld();  // the root hub and another device come first on the second bus
    k350sim::addBus();
    const int bus = k350sim::addBus();
    k350sim::addOtherDevice(bus, 0x046D, 0xC52B);
    board = k350sim::addBoard(bus);
    openAndQuery();
    ASSERT_TRUE(worker.isLinkOpen());

    const int64_t scans = k350sim::scans();
    for (int again = 0; again < 3; ++again) openAndQuery();
    EXPECT_EQ(k350sim::scans(), scans);
    k350sim::clearLog();
    openAndQuery();
    EXPECT_EQ(k350sim::scans(), scans);
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_EQ(worker.deviceIds(), kDefaultIds);
    EXPECT_TRUE(channel.events().empty());
    const auto log = k350sim::transferLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0].kind, TransferKind::Close);  // the quick re-open gives up on the old handle
    EXPECT_EQ(log[1].kind, TransferKind::Open);
    EXPECT_EQ(log[1].device, board);
}

TEST_F(LinkTest, QuickReopenUsesTheListOfThePreviousScan) {
    openAndQuery();
    k350sim::unplug(board);
    k350sim::replug(board);  // only a new scan lists it again
    k350sim::clearLog();
    openAndQuery();
    const auto opens = entriesOf(TransferKind::Open);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_LT(opens[0].result, 0);  // the stale entry of the old list
    EXPECT_EQ(opens[1].result, 0);  // found again by the scan
    EXPECT_TRUE(worker.isLinkOpen());
}

TEST_F(LinkTest, FirstBoardThatOpensIsUsed) {
    k350sim::BoardOptions locked = withDieByte(0x11);
    locked.cannotOpen = true;
    boardsOnOneBus({locked, withDieByte(0x22), withDieByte(0x33)});
    openAndQuery();
    ASSERT_TRUE(worker.isLinkOpen());
    EXPECT_EQ(worker.deviceIds()[0], 0x22);
    EXPECT_TRUE(channel.events().empty());
}

TEST_F(LinkTest, OnlyAnUnopenableBoardMeansNoBoardAndSaysAccessWasRefused) {
    useBoard({.cannotOpen = true});
    openAndQuery();
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status),
              (Values{LinkStatus::NoBoard, LinkStatus::AccessRefused}));
    EXPECT_FALSE(worker.isLinkOpen());
}

TEST_F(LinkTest, RefusalsOfTheFirstBoardEndTheScan) {
    boardsOnOneBus({{.refusesConfiguration2 = true}, {}});
    openAndQuery();
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status), Values{LinkStatus::NoConfiguration});
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_EQ(entriesOf(TransferKind::Open).size(), 1u);

    channel.clear();
    boardsOnOneBus({{.refusesInterface0 = true}, {}});
    openAndQuery();
    EXPECT_EQ(valuesOf(WindowId::FDevice, NotifyCode::Status), Values{LinkStatus::NoInterface});
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_EQ(entriesOf(TransferKind::Open).size(), 1u);
    EXPECT_EQ(entriesOf(TransferKind::Close).size(), 1u);
}

TEST_F(LinkTest, InvalidBufferSizeRepliesCloseTheLink) {
    useBoard({.capacity = 0});
    openAndQuery();
    expectClosedAfterError(LinkError::InvalidReply);

    channel.clear();
    useBoard({});
    k350sim::shortReply(0, 3);
    openAndQuery();
    expectClosedAfterError(LinkError::InvalidReply);

    // The identification reply needs room for both IDs.
    channel.clear();
    useBoard({.capacity = 15});
    openAndQuery();
    expectClosedAfterError(LinkError::InvalidReply);
    EXPECT_EQ(k350sim::requests().size(), 1u);  // no identification asked for

    channel.clear();
    useBoard({.capacity = 16});
    openAndQuery();
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_EQ(worker.deviceIds(), kDefaultIds);
}

TEST_F(LinkTest, IdentificationReplyWithAnotherCodeClosesTheLink) {
    openAndQuery();  // IDs known first: the failure must clear them
    channel.clear();
    k350sim::wrongReplyCode(1, 7);
    openAndQuery();
    expectClosedAfterError(LinkError::InvalidReply);
}

// The terminal does not examine the identification reply's length: what the board did not send
// reads as zero. k350ctl's links take only a reply that holds both IDs.
TEST_F(LinkTest, AShortIdentificationReplyIsInvalidWhereWholeIdsAreRequired) {
    k350sim::shortReply(1, 11);  // the header and three bytes of the die ID
    openAndQuery();
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_EQ(worker.deviceIds(), (DeviceIds{0x35, 0x0A, 0x01}));
    worker.CloseLink();

    BoardLink link(virtualClock);
    link.requireWholeIdentification();
    for (const int length : {3, 8, 16, 23}) {
        SCOPED_TRACE(length);
        DirectObserver observer;
        k350sim::shortReply(1, length);
        EXPECT_FALSE(link.openNormal(observer));
        EXPECT_EQ(observer.errors, std::vector<int>{LinkError::InvalidReply});
        EXPECT_EQ(link.ids(), DeviceIds{});
    }
    DirectObserver observer;
    EXPECT_TRUE(link.openNormal(observer));
    EXPECT_EQ(link.ids(), kDefaultIds);
    link.close();
}

TEST_F(LinkTest, EveryReplyIsReadWithTheBufferSize) {
    useBoard({.capacity = 1000});
    openAndQuery();
    EXPECT_EQ(worker.bufferSize(), 1008u);
    const auto reads = entriesOf(TransferKind::Read);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].size, 4);  // the size query's own 4-byte block
    EXPECT_EQ(reads[1].size, 1008);
    EXPECT_EQ(reads[1].timeoutMs, 1000);
}

TEST_F(LinkTest, TransferFailureInTheQueryIsReportedAsIs) {
    for (int failing = 0; failing < 4; ++failing) {
        SCOPED_TRACE(failing);
        useBoard({});
        channel.clear();
        k350sim::failTransfer(failing, -110);
        openAndQuery();
        expectClosedAfterError(-110);
    }
}

// --- request events -----------------------------------------------------------

TEST_F(LinkTest, NoRequestMeansNoUsbTrafficAtAll) {
    EXPECT_FALSE(worker.runOnePass());
    EXPECT_TRUE(k350sim::transferLog().empty());
    EXPECT_FALSE(worker.isLinkOpen());
}

TEST_F(LinkTest, LowestSignalledRequestRunsFirstAndOthersWait) {
    channel.open(WindowId::FRead);
    worker.signal(WorkerRequest::ReadStatistics);
    worker.signal(WorkerRequest::ReadConfig);
    ASSERT_TRUE(worker.runOnePass());
    EXPECT_FALSE(worker.isSignalled(WorkerRequest::ReadConfig));
    EXPECT_TRUE(worker.isSignalled(WorkerRequest::ReadStatistics));
    EXPECT_EQ(valuesOf(WindowId::FRead, NotifyCode::Done), Values{140});
}

TEST_F(LinkTest, WithdrawnRequestNeverRunsAndRepeatedSignalsMerge) {
    worker.signal(WorkerRequest::ReadConfig);
    worker.reset(WorkerRequest::ReadConfig);
    EXPECT_FALSE(worker.runOnePass());
    EXPECT_TRUE(k350sim::transferLog().empty());

    channel.open(WindowId::FRead);
    worker.signal(WorkerRequest::ReadConfig);
    worker.signal(WorkerRequest::ReadConfig);
    EXPECT_TRUE(worker.runOnePass());
    EXPECT_FALSE(worker.runOnePass());
    EXPECT_EQ(valuesOf(WindowId::FRead, NotifyCode::Done), Values{140});
}

TEST_F(LinkTest, ExitSequenceReleasesAnOpenLink) {
    openAndQuery();
    k350sim::clearLog();
    worker.runExitSequence();
    const auto log = k350sim::transferLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].kind, TransferKind::Read);
    EXPECT_EQ(log[0].size, 520);
    EXPECT_EQ(log[0].timeoutMs, 100);
    EXPECT_EQ(log[1].kind, TransferKind::ReleaseInterface);
    EXPECT_EQ(log[2].kind, TransferKind::Close);
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_EQ(worker.deviceIds(), DeviceIds{});
}
