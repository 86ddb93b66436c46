// The worker thread told to stop in the middle of each operation, at every reply
// the board makes: with the windows gone, as when the main window closes, the
// operation ends at its next notification; with them still open it runs to its
// end. Either way the thread exits and the board is released.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "config/Clock.h"
#include "link/K350Task.h"
#include "sim/SimControl.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/RobustOperations.h"
#include "tests/support/SimBoards.h"
#include "tests/support/SimTime.h"
#include "tests/support/VirtualClock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr WindowId kAllWindows[] = {
    WindowId::FDevice, WindowId::FRead,  WindowId::FSave,    WindowId::FFlash,   WindowId::FReport,
    WindowId::FCodec,  WindowId::FAudio, WindowId::FVocoder, WindowId::FRecoder, WindowId::FTrace};

// Answers every request for data as the windows would: the record, the image, a payload.
void answer(WorkerNotification n, const std::shared_ptr<const Bytes>& data) {
    if (n.code != NotifyCode::FillData) return;
    if (n.value == 0) return;
    if (data) reinterpret_cast<TransferData*>(n.value)->hold(data);
}

class ThreadedRobustTest : public ::testing::Test {
protected:
    void SetUp() override { freshBoard(); }
    // Each run on a board just plugged in, so that every run makes the same replies.
    void freshBoard() { board_ = PlugFreshBoard(clock_); }
    void TearDown() override { ReleaseSim(); }

    void openWindows(RecordingChannel& channel) {
        auto record = std::make_shared<const Bytes>(k350sim::plausibleConfiguration(1));
        auto image = std::make_shared<const Bytes>(Bytes(600, 0x5A));
        channel.open(WindowId::FDevice, [record](WorkerNotification n) { answer(n, record); });
        channel.open(WindowId::FFlash, [image](WorkerNotification n) { answer(n, image); });
        channel.open(WindowId::FRead);
        channel.open(WindowId::FSave);
        channel.open(WindowId::FReport);
        // Payload windows write into the exchange buffer: at most 8 bytes (the recorder's).
        for (WindowId id : {WindowId::FCodec, WindowId::FAudio, WindowId::FVocoder,
                            WindowId::FRecoder, WindowId::FTrace}) {
            const std::size_t length = id == WindowId::FTrace     ? 2
                                       : id == WindowId::FRecoder ? 8
                                       : id == WindowId::FVocoder ? 6
                                       : id == WindowId::FCodec   ? 2
                                                                  : 1;
            channel.open(id, [length](WorkerNotification n) {
                if (n.code == NotifyCode::FillData) {
                    std::memset(reinterpret_cast<void*>(n.value), 0x11, length);
                }
            });
        }
    }

    void queueTraceRecords() {
        k350sim::pushTraceRecord(board_, {0x00, 0x02, 0xAA, 0xBB});
        k350sim::pushTraceRecord(board_, {0x00, 0x00, 0xCC});
    }

    // A fresh board with trace records to poll, and every window open on `channel`.
    void prepareRun(RecordingChannel& channel) {
        freshBoard();
        openWindows(channel);
        queueTraceRecords();
    }

    // Replies of one healthy run, on this thread.
    int repliesOf(const robust::WindowOperation& operation) {
        RecordingChannel channel;
        prepareRun(channel);
        TK350 worker(channel, clock_);
        auto replies = std::make_shared<std::atomic<int>>(0);
        k350sim::setReplyHook([replies](int, const Bytes&, Bytes&) {
            ++*replies;
            return 0;
        });
        worker.signal(operation.request);
        worker.runOnePass();
        k350sim::setReplyHook({});
        EXPECT_FALSE(channel.codes(operation.window).empty());
        worker.runExitSequence();
        return replies->load();
    }

    static bool boardReleased() { return BoardReleased(); }

    // Stops the thread at the board's `reply`-th reply; with closeWindows, every window
    // goes at the same moment.
    void stopAtReply(const robust::WindowOperation& operation, int reply, bool closeWindows) {
        RecordingChannel channel;
        prepareRun(channel);
        TK350 worker(channel, clock_);
        auto count = std::make_shared<std::atomic<int>>(0);
        // Runs on the worker thread, inside the transfer.
        k350sim::setReplyHook(
            [&worker, &channel, count, reply, closeWindows](int, const Bytes&, Bytes&) {
                if ((*count)++ != reply) return 0;
                if (closeWindows) {
                    for (WindowId id : kAllWindows) channel.close(id);
                }
                worker.requestStop();
                return 0;
            });
        worker.signal(operation.request);
        worker.start();
        const bool exited = worker.waitForExit(std::chrono::seconds(20));
        worker.requestStop();  // lets the destructor end the thread even when the test fails
        ASSERT_TRUE(exited);
        k350sim::setReplyHook({});

        EXPECT_FALSE(worker.isLinkOpen());
        EXPECT_TRUE(boardReleased());
        const auto codes = channel.codes(operation.window);
        const bool succeeded =
            std::find(codes.begin(), codes.end(), operation.successCode) != codes.end();
        if (!closeWindows) {
            EXPECT_TRUE(succeeded) << "a stop lets the operation run to its end";
            const auto mainCodes = channel.codes(WindowId::FDevice);
            EXPECT_EQ(std::count(mainCodes.begin(), mainCodes.end(), NotifyCode::Error), 0);
        }
    }

    VirtualClock clock_;
    k350sim::DeviceId board_ = 0;
};

}  // namespace

TEST_F(ThreadedRobustTest, StopAtEveryReplyOfEveryOperationEndsItAndReleasesTheBoard) {
    int stoppedRuns = 0;
    for (const robust::WindowOperation& operation : robust::windowOperations()) {
        SCOPED_TRACE(operation.name);
        const int replies = repliesOf(operation);
        ASSERT_GT(replies, 0);
        for (int reply = 0; reply < replies; ++reply) {
            SCOPED_TRACE("stopped at reply " + std::to_string(reply));
            stopAtReply(operation, reply, true);
            stopAtReply(operation, reply, false);
            stoppedRuns += 2;
        }
    }
    std::printf("[ stopped  ] %d threaded runs\n", stoppedRuns);
}
