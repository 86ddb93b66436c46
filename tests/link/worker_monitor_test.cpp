// The statistics and trace operations against the simulated board.
#include <gmock/gmock.h>

#include <cstring>

#include "tests/support/WorkerFixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::size_t kStatisticsBytes = 68;

Bytes packet(Bytes header, const Bytes& payload = {}) {
    header.insert(header.end(), payload.begin(), payload.end());
    return header;
}

// Words 1 to 3 as the identification reply left them: 16, 0, 0x3800.
const Bytes kStatisticsRead{0x08, 0x00, 0x01, 0x00, 0x44, 0x00, 0x00, 0x38};
const Bytes kStatisticsReset{0x08, 0x00, 0x00, 0x00, 0x44, 0x00, 0x00, 0x38};
const Bytes kTracePoll{0x06, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x38};

// Changes the replies to one command only.
void onReplyTo(std::uint16_t command, std::function<void(Bytes&)> change) {
    k350sim::setReplyHook([command, change](k350sim::DeviceId, const Bytes& request, Bytes& reply) {
        if (request.size() >= 2 && request[0] == command && request[1] == 0) change(reply);
        return 0;
    });
}

std::vector<k350sim::TransferRecord> bulkTransfers() {
    std::vector<k350sim::TransferRecord> bulk;
    for (const auto& record : k350sim::transferLog()) {
        if (record.kind == k350sim::TransferKind::Write ||
            record.kind == k350sim::TransferKind::Read) {
            bulk.push_back(record);
        }
    }
    return bulk;
}

std::vector<Bytes> requestsOf(std::uint8_t command) {
    std::vector<Bytes> found;
    for (const Bytes& request : k350sim::requests()) {
        if (request.size() >= 8 && request[0] == command) found.push_back(request);
    }
    return found;
}

}  // namespace

class StatisticsTest : public WorkerFixture {
protected:
    void SetUp() override {
        WorkerFixture::SetUp();
        channel.open(WindowId::FReport, [this](WorkerNotification notification) {
            if (notification.code != NotifyCode::Statistics) return;
            const auto* reply = reinterpret_cast<const LinkStatisticsReply*>(notification.value);
            shown.emplace_back(reply->record.begin(), reply->record.begin() + reply->received);
        });
        virtualClock.advanceUs(10'000'000);  // let the counters run
    }
    // Keeps the payload of the last statistics reply the board made.
    void captureReplies() {
        onReplyTo(8, [this](Bytes& reply) { sent.assign(reply.begin() + 8, reply.end()); });
    }

    std::vector<Bytes> shown;
    Bytes sent;
};

TEST_F(StatisticsTest, ReadPassesTheBoardsCountersToTheWindow) {
    captureReplies();
    runOnce(WorkerRequest::ReadStatistics);
    EXPECT_EQ(k350sim::lastRequest(), kStatisticsRead);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], sent);
    EXPECT_EQ(shown[0][3], 10);  // seconds since the counters started
    auto bulk = bulkTransfers();
    EXPECT_EQ(bulk[bulk.size() - 2].timeoutMs, 100);
    EXPECT_EQ(bulk.back().timeoutMs, 100);
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_THAT(channel.codes(WindowId::FDevice), IsEmpty());
}

TEST_F(StatisticsTest, RepliesOfAnyLengthWithTheWholeRecordArePassedOn) {
    onReplyTo(8, [](Bytes& reply) { reply.resize(reply.size() + 12, 0xEE); });
    runOnce(WorkerRequest::ReadStatistics);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].size(), kStatisticsBytes);

    useBoard({.capacity = kStatisticsBytes});  // the record just fits
    k350sim::setReplyHook({});
    runOnce(WorkerRequest::ReadStatistics);
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_THAT(channel.codes(WindowId::FDevice), IsEmpty());
}

TEST_F(StatisticsTest, ResetZeroesTheBoardsCounters) {
    ASSERT_NE(k350sim::statistics(board)[0], 0u);
    runOnce(WorkerRequest::ResetStatistics);
    EXPECT_EQ(k350sim::lastRequest(), kStatisticsReset);
    auto counters = k350sim::statistics(board);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(counters[i], 0u) << "word " << i;
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(StatisticsTest, WrongReplyCodeIsLoggedAndShowsNothing) {
    // A wrong code, and replies too short to carry the code at all.
    std::vector<std::function<void(Bytes&)>> faults{[](Bytes& reply) { reply[0] = 9; },
                                                    [](Bytes& reply) { reply.resize(1); },
                                                    [](Bytes& reply) { reply.clear(); }};
    for (const auto& fault : faults) {
        channel.clear();
        onReplyTo(8, fault);
        runOnce(WorkerRequest::ReadStatistics);
        EXPECT_THAT(
            channel.received(WindowId::FDevice),
            ElementsAre(std::pair{NotifyCode::Error, std::intptr_t(LinkError::WrongReplyCode)}));
        EXPECT_THAT(shown, IsEmpty());
        EXPECT_FALSE(channel.closeRequested(WindowId::FReport));
        EXPECT_FALSE(worker.isLinkOpen());
    }
}

TEST_F(StatisticsTest, ShortReplyPassesOnOnlyTheBytesItCarried) {
    runOnce(WorkerRequest::ReadStatistics);  // a whole record first, left in the buffer
    ASSERT_EQ(shown.size(), 1u);
    onReplyTo(8, [this](Bytes& reply) {
        reply.resize(8 + 10);
        sent.assign(reply.begin() + 8, reply.end());
    });
    runOnce(WorkerRequest::ReadStatistics);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1], sent);
    EXPECT_THAT(channel.codes(WindowId::FDevice), IsEmpty());
    EXPECT_TRUE(worker.isLinkOpen());

    onReplyTo(8, [](Bytes& reply) { reply.resize(8); });  // the header alone
    runOnce(WorkerRequest::ReadStatistics);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_THAT(shown[2], IsEmpty());
    EXPECT_THAT(channel.codes(WindowId::FDevice), IsEmpty());
}

TEST_F(StatisticsTest, FailedTransferIsLoggedButTheWindowStays) {
    for (auto [nth, error] : {std::pair{4, -5}, std::pair{5, int(LinkError::Timeout)}}) {
        channel.clear();
        k350sim::failTransfer(nth, error);
        runOnce(WorkerRequest::ResetStatistics);
        EXPECT_THAT(channel.received(WindowId::FDevice),
                    ElementsAre(std::pair{NotifyCode::Error, std::intptr_t(error)}));
        EXPECT_THAT(shown, IsEmpty());
        EXPECT_TRUE(channel.isOpen(WindowId::FReport));
        EXPECT_FALSE(worker.isLinkOpen());
    }
}

TEST_F(StatisticsTest, NoBoardClosesTheWindow) {
    k350sim::unplug(board);
    runOnce(WorkerRequest::ReadStatistics);
    EXPECT_THAT(channel.received(WindowId::FDevice),
                ElementsAre(std::pair{NotifyCode::Status, std::intptr_t(LinkStatus::NoBoard)}));
    EXPECT_TRUE(channel.closeRequested(WindowId::FReport));
}

TEST_F(StatisticsTest, BoardTooSmallForTheRecordIsAnInvalidBufferSize) {
    useBoard({.capacity = kStatisticsBytes - 1});
    runOnce(WorkerRequest::ReadStatistics);
    EXPECT_THAT(channel.received(WindowId::FDevice),
                ElementsAre(std::pair{NotifyCode::Error, std::intptr_t(LinkError::InvalidReply)}));
    EXPECT_TRUE(channel.closeRequested(WindowId::FReport));
    EXPECT_THAT(requestsOf(8), IsEmpty());
    EXPECT_FALSE(worker.isLinkOpen());
}

class TraceTest : public WorkerFixture {
protected:
    void SetUp() override {
        WorkerFixture::SetUp();
        channel.open(WindowId::FTrace, [this](WorkerNotification notification) {
            if (notification.code == NotifyCode::TraceLines) {
                const auto* list = reinterpret_cast<const TraceLines*>(notification.value);
                deliveries.push_back(*list);
            } else if (notification.code == NotifyCode::FillData) {
                std::uint8_t mask[2] = {0x05, 0x00};
                std::memcpy(reinterpret_cast<std::uint8_t*>(notification.value), mask, 2);
            } else if (notification.code == NotifyCode::Done) {
                linkOpenAtStop = worker.isLinkOpen();
            }
        });
    }
    void poll(std::initializer_list<Bytes> records) {
        for (const Bytes& record : records) k350sim::pushTraceRecord(board, record);
        runOnce(WorkerRequest::PollTrace);
    }
    // A reply that is not the poll's own: the link's error, and the window told to stop.
    void expectEndedOnWrongReply() {
        EXPECT_THAT(
            channel.received(WindowId::FDevice),
            ElementsAre(std::pair{NotifyCode::Error, std::intptr_t(LinkError::WrongReplyCode)}));
        EXPECT_THAT(channel.received(WindowId::FTrace),
                    ElementsAre(std::pair{NotifyCode::Done, std::intptr_t(0)}));
    }

    std::vector<TraceLines> deliveries;
    bool linkOpenAtStop = true;
};

TEST_F(TraceTest, SelectionSendsTheWindowsMask) {
    runOnce(WorkerRequest::SetTrace);
    EXPECT_EQ(k350sim::lastRequest(), packet({0x05, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x38}));
    EXPECT_EQ(k350sim::traceMask(board), 5);
    EXPECT_THAT(channel.codes(WindowId::FTrace), ElementsAre(NotifyCode::FillData));
    EXPECT_EQ(bulkTransfers().back().timeoutMs, 1000);
    EXPECT_TRUE(worker.isLinkOpen());
}

TEST_F(TraceTest, FailedSelectionStopsTheWindowAndClosesTheLink) {
    k350sim::failTransfer(5, LinkError::Timeout);
    runOnce(WorkerRequest::SetTrace);
    EXPECT_THAT(channel.received(WindowId::FDevice),
                ElementsAre(std::pair{NotifyCode::Error, std::intptr_t(LinkError::Timeout)}));
    EXPECT_THAT(channel.codes(WindowId::FTrace),
                ElementsAre(NotifyCode::FillData, NotifyCode::Done));
    EXPECT_FALSE(worker.isLinkOpen());
}

TEST_F(TraceTest, SelectionForAClosedWindowSendsNothing) {
    channel.close(WindowId::FTrace);
    runOnce(WorkerRequest::SetTrace);
    EXPECT_THAT(requestsOf(5), IsEmpty());
    EXPECT_TRUE(worker.isLinkOpen());
}

TEST_F(TraceTest, RecordsOfFiveTwoAndZeroBytesGiveOneLineAndEndThePoll) {
    poll({{0x00, 0x00, 0x7E, 0x01, 0x02}, {0x00, 0x02}});
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_THAT(deliveries[0], ElementsAre("12:00:00 Bus+(RxD): 0x7E; 0x01; 0x02; "));
    EXPECT_EQ(requestsOf(6).size(), 3u);
    EXPECT_EQ(requestsOf(6).front(), kTracePoll);
    auto bulk = bulkTransfers();
    EXPECT_EQ(bulk.back().timeoutMs, 100);
    EXPECT_EQ(bulk[bulk.size() - 2].timeoutMs, 100);
}

TEST_F(TraceTest, BusTransmitRecordOfThreeBytesEndsThePollWithLabelOnly) {
    poll({{0x00, 0x01, 0xAA}, {0x00, 0x00, 0x11}});
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_THAT(deliveries[0], ElementsAre("12:00:00 Bus+(TxD): "));
    EXPECT_EQ(requestsOf(6).size(), 1u);

    poll({});  // the record left behind comes with the next poll
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_THAT(deliveries[1], ElementsAre("12:00:00 Bus+(RxD): 0x11; "));
}

TEST_F(TraceTest, LinesCarryTimeLabelAndTracedBytes) {
    virtualClock.advanceUs(std::int64_t(15 * 3600 + 4 * 60 + 5) * 1'000'000);  // 03:04:05
    poll({{0x00, 0x00, 0x7E, 0x01},
          {0x00, 0x01, 0xAA, 0x10, 0x2F},
          {0x00, 0x02, 0xC3},
          {0x00, 0x03, 0x00},
          {0x00, 0x09, 0x55},
          {0x01, 0x00, 0x66}});  // type 256: the type is sent high byte first
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_THAT(deliveries[0],
                ElementsAre("03:04:05 Bus+(RxD): 0x7E; 0x01; ", "03:04:05 Bus+(TxD): 0x10; 0x2F; ",
                            "03:04:05 Link(RxD): 0xC3; ", "03:04:05 Link(TxD): 0x00; ",
                            "03:04:05 0x55; ", "03:04:05 0x66; "));
}

TEST_F(TraceTest, PollThatFindsNothingTellsTheWindowNothing) {
    poll({});
    EXPECT_THAT(channel.events(), IsEmpty());
    EXPECT_EQ(k350sim::lastRequest(), kTracePoll);
    EXPECT_TRUE(worker.isLinkOpen());
}

TEST_F(TraceTest, WrongReplyCodeDropsTheLinesAndStopsTheWindow) {
    k350sim::pushTraceRecord(board, {0x00, 0x00, 0x7E});
    int replies = 0;
    onReplyTo(6, [&replies](Bytes& reply) {
        if (++replies == 2) reply[0] = 7;
    });
    runOnce(WorkerRequest::PollTrace);
    expectEndedOnWrongReply();
    EXPECT_FALSE(linkOpenAtStop);  // the link is closed before the window is told
    EXPECT_THAT(deliveries, IsEmpty());
}

TEST_F(TraceTest, ReplyTooShortForItsCommandCodeIsAWrongReplyNotTheEndOfTheQueue) {
    for (int length : {0, 1}) {
        SCOPED_TRACE(length);
        channel.clear();
        onReplyTo(6, [length](Bytes& reply) { reply.resize(std::size_t(length)); });
        runOnce(WorkerRequest::PollTrace);
        expectEndedOnWrongReply();
        EXPECT_FALSE(worker.isLinkOpen());
    }
}

TEST_F(TraceTest, FailedTransferAtAnyExchangeStopsTheWindow) {
    // The poll's first request and reply, and the second request after a record.
    for (auto [nth, error] : {std::pair{4, -5}, std::pair{5, int(LinkError::Timeout)},
                              std::pair{6, int(LinkError::Timeout)}}) {
        SCOPED_TRACE(nth);
        channel.clear();
        k350sim::failTransfer(nth, error);
        poll({{0x00, 0x00, 0x7E}});
        EXPECT_THAT(channel.received(WindowId::FDevice),
                    ElementsAre(std::pair{NotifyCode::Error, std::intptr_t(error)}));
        EXPECT_THAT(channel.codes(WindowId::FTrace), ElementsAre(NotifyCode::Done));
        EXPECT_FALSE(worker.isLinkOpen());
    }
    EXPECT_THAT(deliveries, IsEmpty());
}

TEST_F(TraceTest, NoBoardStopsTheWindow) {
    k350sim::unplug(board);
    for (auto request : {WorkerRequest::SetTrace, WorkerRequest::PollTrace}) {
        channel.clear();
        runOnce(request);
        EXPECT_THAT(channel.received(WindowId::FDevice),
                    ElementsAre(std::pair{NotifyCode::Status, std::intptr_t(LinkStatus::NoBoard)}));
        EXPECT_THAT(channel.received(WindowId::FTrace),
                    ElementsAre(std::pair{NotifyCode::Done, std::intptr_t(0)}));
    }
}

TEST_F(TraceTest, BoardThatNeverRunsDryDoesNotHoldTheWorkerForever) {
    onReplyTo(6, [](Bytes& reply) { reply.insert(reply.end(), {0x00, 0x00, 0x42}); });
    runOnce(WorkerRequest::PollTrace);
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].size(), 1000u);
    EXPECT_EQ(requestsOf(6).size(), 1000u);
    EXPECT_TRUE(worker.isLinkOpen());
}
