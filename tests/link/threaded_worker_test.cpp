// The worker on its own thread: requests picked up by the loop, and a stop that
// lets the running operation end before the exit sequence releases the board.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "tests/support/WorkerFixture.h"

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes fullWriteData() {
    Bytes bytes(140);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i + 1);
    return bytes;
}

bool endsWithRelease(const std::vector<k350sim::TransferRecord>& log) {
    return log.size() >= 2 && log[log.size() - 2].kind == k350sim::TransferKind::ReleaseInterface &&
           log.back().kind == k350sim::TransferKind::Close;
}

}  // namespace

class ThreadedWorkerTest : public WorkerFixture {
protected:
    void TearDown() override {
        worker.requestStop();
        ASSERT_TRUE(worker.waitForExit(5s));
        WorkerFixture::TearDown();
    }
    // Opens the window with a receiver that also reports its notification `code`.
    std::future<std::intptr_t> openReporting(WindowId window, std::uint32_t code,
                                             RecordingChannel::Receiver also = {}) {
        auto promise = std::make_shared<std::promise<std::intptr_t>>();
        channel.open(window, [promise, code, also](WorkerNotification n) {
            if (also) also(n);
            if (n.code == code) promise->set_value(n.value);
        });
        return promise->get_future();
    }
    // The worker on its thread through one configuration read; true once the snapshot is there.
    bool readOnTheThread() {
        channel.open(WindowId::FRead);
        auto installed = openReporting(WindowId::FDevice, NotifyCode::ConfigData);
        worker.start();
        worker.signal(WorkerRequest::ReadConfig);
        return installed.wait_for(5s) == std::future_status::ready;
    }
};

TEST_F(ThreadedWorkerTest, SignalledReadRunsOnTheThreadAndReports) {
    ASSERT_TRUE(readOnTheThread());
    EXPECT_EQ(channel.codes(WindowId::FDevice), (std::vector<std::uint32_t>{0, 0, 2, 10}));
    EXPECT_EQ(valuesOf(WindowId::FRead, NotifyCode::Done), std::vector<std::intptr_t>{140});
}

TEST_F(ThreadedWorkerTest, StopWhileIdleExitsQuicklyAndReleasesTheBoard) {
    ASSERT_TRUE(readOnTheThread());
    // Nothing of the read follows its snapshot: the worker is as good as idle.
    k350sim::clearLog();

    const auto start = std::chrono::steady_clock::now();
    worker.requestStop();
    ASSERT_TRUE(worker.waitForExit(2s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_TRUE(endsWithRelease(k350sim::transferLog()));
}

TEST_F(ThreadedWorkerTest, StopDuringAnOperationLetsItFinish) {
    auto data = std::make_shared<const Bytes>(fullWriteData());
    channel.open(WindowId::FDevice, fillWith(data));
    auto done = openReporting(WindowId::FSave, NotifyCode::Done, [this](WorkerNotification n) {
        if (n.code == NotifyCode::Progress && n.value == 64) worker.requestStop();
    });
    worker.start();
    worker.signal(WorkerRequest::WriteConfig);
    ASSERT_TRUE(worker.waitForExit(5s));

    ASSERT_EQ(done.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(done.get(), 140);
    const Bytes eeprom = k350sim::eeprom(board);
    EXPECT_EQ(Bytes(eeprom.begin(), eeprom.begin() + 140), *data);
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_TRUE(endsWithRelease(k350sim::transferLog()));
}

TEST_F(ThreadedWorkerTest, ShutdownDuringAnOperationEndsItAtItsNextNotification) {
    auto data = std::make_shared<const Bytes>(fullWriteData());
    channel.open(WindowId::FDevice, fillWith(data));
    channel.open(WindowId::FSave, [this](WorkerNotification n) {
        if (n.code != NotifyCode::Progress) return;
        // As the main window closes: windows gone first, then the stop flag.
        channel.close(WindowId::FSave);
        channel.close(WindowId::FDevice);
        worker.requestStop();
    });
    worker.start();
    worker.signal(WorkerRequest::WriteConfig);
    ASSERT_TRUE(worker.waitForExit(5s));

    const Bytes eeprom = k350sim::eeprom(board);
    EXPECT_EQ(Bytes(eeprom.begin(), eeprom.begin() + 128),
              Bytes(data->begin(), data->begin() + 128));
    EXPECT_EQ(channel.codes(WindowId::FSave), (std::vector<std::uint32_t>{6, 7, 4, 9}));
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_TRUE(endsWithRelease(k350sim::transferLog()));
}

TEST_F(ThreadedWorkerTest, StopEndsTheWaitForABusyFlashAtItsNextPoll) {
    k350sim::setFlashNeverReady(board, true);
    auto image = std::make_shared<const Bytes>(Bytes(1000, 0x5A));
    channel.open(WindowId::FFlash, fillWith(image));
    auto polls = std::make_shared<std::atomic<int>>(0);
    k350sim::setReplyHook([this, polls](int, const Bytes& request, Bytes&) {
        const bool statusRead = request.size() == 9 && request[0] == 2 && request[8] == 0x05;
        if (statusRead && ++*polls == 10) worker.requestStop();
        return 0;
    });
    worker.start();
    worker.signal(WorkerRequest::LoadFirmware);
    ASSERT_TRUE(worker.waitForExit(5s));
    k350sim::setReplyHook({});
    EXPECT_EQ(polls->load(), 10);
    EXPECT_TRUE(valuesOf(WindowId::FDevice, NotifyCode::Error).empty());
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_TRUE(endsWithRelease(k350sim::transferLog()));
}

TEST_F(ThreadedWorkerTest, StopEndsALongTraceDrainAndHandsOverWhatItHas) {
    for (int i = 0; i < 1500; ++i) k350sim::pushTraceRecord(board, {0x00, 0x02, 0x41});
    auto polls = std::make_shared<std::atomic<int>>(0);
    k350sim::setReplyHook([this, polls](int, const Bytes& request, Bytes&) {
        if (request.size() >= 2 && request[0] == 6 && ++*polls == 10) worker.requestStop();
        return 0;
    });
    auto lines = openReporting(WindowId::FTrace, NotifyCode::TraceLines);
    worker.start();
    worker.signal(WorkerRequest::PollTrace);
    ASSERT_TRUE(worker.waitForExit(5s));
    k350sim::setReplyHook({});
    EXPECT_EQ(polls->load(), 10);
    ASSERT_EQ(lines.wait_for(0s), std::future_status::ready);
    EXPECT_FALSE(worker.isLinkOpen());
    EXPECT_TRUE(endsWithRelease(k350sim::transferLog()));
}
