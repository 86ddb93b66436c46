// The live setting operations against the simulated board.
#include <gmock/gmock.h>

#include <cstring>

#include "tests/support/WorkerFixture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The identification reply that every operation reads first repeats words 1, 16, 0, 0x3800:
// the words a device command leaves unwritten go out with these bytes.
const Bytes kIdentifyWords{0x10, 0x00, 0x00, 0x00, 0x00, 0x38};

Bytes concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

struct LiveCase {
    const char* name;
    WorkerRequest request;
    WindowId window;
    Bytes payload;
    Bytes header;
};

// What ctest shows beside the test's name: the case's name, not its bytes.
void PrintTo(const LiveCase& liveCase, std::ostream* out) {
    *out << liveCase.name;
}

std::vector<LiveCase> liveCases() {
    return {
        {"Codec",
         WorkerRequest::SendCodec,
         WindowId::FCodec,
         {0x06, 0x7D},
         {0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x1A, 0x00}},
        {"Amplifier",
         WorkerRequest::SendAmplifier,
         WindowId::FAudio,
         {0xD5},
         {0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x4B, 0x00}},
        {"Vocoder",
         WorkerRequest::SendVocoder,
         WindowId::FVocoder,
         {0x00, 0x04, 0, 0, 0, 0},
         concat({0x07, 0x00}, kIdentifyWords)},
        {"Recorder",
         WorkerRequest::SendRecorder,
         WindowId::FRecoder,
         {0x00, 0x0F, 0x10, 0x1D, 0x10, 0x1D, 0x00, 0x90},
         concat({0x04, 0x00}, kIdentifyWords)},
    };
}

// A settings window: writes its payload where notification 11 points.
RecordingChannel::Receiver writesPayload(Bytes payload) {
    return [payload](WorkerNotification notification) {
        if (notification.code != NotifyCode::FillData) return;
        std::memcpy(reinterpret_cast<std::uint8_t*>(notification.value), payload.data(),
                    payload.size());
    };
}

}  // namespace

class LiveSettingTest : public WorkerFixture, public ::testing::WithParamInterface<LiveCase> {
protected:
    void runWithWindow() {
        channel.open(GetParam().window, writesPayload(GetParam().payload));
        runOnce(GetParam().request);
    }
    std::vector<k350sim::TransferRecord> bulkTransfers() const {
        std::vector<k350sim::TransferRecord> bulk;
        for (const auto& record : k350sim::transferLog()) {
            bool isBulk = record.kind == k350sim::TransferKind::Write ||
                          record.kind == k350sim::TransferKind::Read;
            if (isBulk) bulk.push_back(record);
        }
        return bulk;
    }
};

TEST_P(LiveSettingTest, SendsTheWindowsPayloadBehindTheTabledHeader) {
    runWithWindow();
    const LiveCase& live = GetParam();
    EXPECT_EQ(k350sim::lastRequest(), concat(live.header, live.payload));
    EXPECT_THAT(channel.codes(live.window), ElementsAre(NotifyCode::FillData));
    EXPECT_TRUE(channel.codes(WindowId::FDevice).empty());
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_TRUE(k350sim::violations().empty());

    auto bulk = bulkTransfers();
    ASSERT_GE(bulk.size(), 2u);
    EXPECT_EQ(bulk[bulk.size() - 2].timeoutMs, 1000);
    EXPECT_EQ(bulk.back().timeoutMs, 1000);
    EXPECT_EQ(bulk.back().kind, k350sim::TransferKind::Read);
}

TEST_P(LiveSettingTest, FailedWriteOrReadStopsTheWindowAndClosesTheLink) {
    // Transfers 0 to 3 belong to the size query and the identification.
    for (auto [nth, error] : {std::pair{4, -5}, std::pair{5, int(LinkError::Timeout)}}) {
        SCOPED_TRACE(nth);
        channel.clear();
        k350sim::failTransfer(nth, error);
        bool linkOpenAtStop = false;
        channel.open(GetParam().window, [&](WorkerNotification notification) {
            writesPayload(GetParam().payload)(notification);
            if (notification.code == NotifyCode::Done) linkOpenAtStop = worker.isLinkOpen();
        });
        runOnce(GetParam().request);
        EXPECT_THAT(channel.received(WindowId::FDevice),
                    ElementsAre(std::pair{NotifyCode::Error, std::intptr_t(error)}));
        EXPECT_THAT(channel.codes(GetParam().window),
                    ElementsAre(NotifyCode::FillData, NotifyCode::Done));
        EXPECT_EQ(channel.received(GetParam().window).back().second, 0);
        EXPECT_TRUE(linkOpenAtStop);
        EXPECT_FALSE(worker.isLinkOpen());
    }
}

TEST_P(LiveSettingTest, NoBoardLogsAndStopsTheWindowWithoutAskingForThePayload) {
    k350sim::unplug(board);
    runWithWindow();
    EXPECT_THAT(channel.received(WindowId::FDevice),
                ElementsAre(std::pair{NotifyCode::Status, std::intptr_t(LinkStatus::NoBoard)}));
    EXPECT_THAT(channel.received(GetParam().window),
                ElementsAre(std::pair{NotifyCode::Done, std::intptr_t(0)}));
    auto events = channel.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].to, WindowId::FDevice);  // logged before the window stops
}

TEST_P(LiveSettingTest, WindowClosedBeforeThePayloadSendsNothing) {
    runOnce(GetParam().request);  // the window was never opened, or has closed meanwhile
    for (const Bytes& request : k350sim::requests()) {
        EXPECT_LE(request.size(), 8u);  // only the size query and the identification
        EXPECT_NE(request[0], GetParam().header[0]);
    }
    EXPECT_TRUE(worker.isLinkOpen());
    EXPECT_TRUE(channel.codes(WindowId::FDevice).empty());
}

TEST_P(LiveSettingTest, SendsExactlyThePayloadLengthItsWindowWrites) {
    const std::size_t length = LivePayloadLength(GetParam().request);
    ASSERT_EQ(length, GetParam().payload.size());
    runWithWindow();
    EXPECT_EQ(k350sim::lastRequest().size(), 8 + length);
}

TEST_P(LiveSettingTest, SizeQueryRefusesACapacityBelowTheIdentificationReply) {
    useBoard({.capacity = 15});
    runWithWindow();
    EXPECT_THAT(channel.received(WindowId::FDevice),
                ElementsAre(std::pair{NotifyCode::Error, std::intptr_t(LinkError::InvalidReply)}));
    EXPECT_THAT(channel.received(GetParam().window),
                ElementsAre(std::pair{NotifyCode::Done, std::intptr_t(0)}));
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_EQ(k350sim::requests().size(), 1u);  // the size query only: no room for the IDs
}

INSTANTIATE_TEST_SUITE_P(AllFour, LiveSettingTest, ::testing::ValuesIn(liveCases()),
                         [](const auto& info) { return std::string(info.param.name); });

using LiveBoardTest = WorkerFixture;

TEST_F(LiveBoardTest, TheBoardKeepsWhatTheLiveSettingsSent) {
    channel.open(WindowId::FCodec, writesPayload({0x06, 0x7D}));
    channel.open(WindowId::FAudio, writesPayload({0xD5}));
    channel.open(WindowId::FVocoder, writesPayload({0x00, 0x04, 0, 0, 0, 0}));
    channel.open(WindowId::FRecoder, writesPayload({0x00, 0x0F, 0x10, 0x1D, 0x10, 0x1D, 0, 0x90}));
    for (auto request : {WorkerRequest::SendCodec, WorkerRequest::SendAmplifier,
                         WorkerRequest::SendVocoder, WorkerRequest::SendRecorder}) {
        runOnce(request);
    }
    EXPECT_EQ(k350sim::codecRegisters(board)[3], 0x7D);
    EXPECT_THAT(k350sim::amplifierBytes(board), ElementsAre(0xD5));
    EXPECT_THAT(k350sim::vocoderSettings(board), ElementsAreArray(Bytes{0x00, 0x04, 0, 0, 0, 0}));
    EXPECT_THAT(k350sim::recorderSettings(board),
                ElementsAreArray(Bytes{0x00, 0x0F, 0x10, 0x1D, 0x10, 0x1D, 0, 0x90}));
    EXPECT_TRUE(k350sim::violations().empty());
}
