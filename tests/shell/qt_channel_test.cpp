// The Qt notification channel between a worker thread and the user-interface
// thread: blocking deliveries, windows that are gone, and a stop that releases
// a worker waiting for a thread that no longer answers.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

#include "link/K350Task.h"
#include "shell/DeviceForm.h"
#include "shell/QtChannel.h"
#include "sim/SimControl.h"
#include "tests/support/SimTime.h"
#include "tests/support/VirtualClock.h"
#include "ui/WindowRegistry.h"

namespace {

struct FakeWindow : NotificationReceiver {
    explicit FakeWindow(WindowId id) : id_(id), generation(WindowRegistry::Set(id_, this)) {}
    ~FakeWindow() override { WindowRegistry::Clear(id_, this); }
    void onWorkerNotification(const WorkerNotification& notification) override {
        received.push_back(notification.code);
        onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
    }
    void closeFromWorker() override { closed = true; }
    WindowId id_;
    WindowGeneration generation;
    std::vector<std::uint32_t> received;
    bool onUiThread = true;
    bool closed = false;
};

// Runs `call` on a thread of its own while this thread serves the event loop.
template <class Call>
bool fromWorkerThread(Call call) {
    std::atomic<bool> done{false};
    bool result = false;
    std::thread worker([&] {
        result = call();
        done.store(true);
    });
    while (!done.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    return result;
}

// Stops the channel at the moment a queued call reaches the event loop.
class StopOnArrival : public QObject {
public:
    explicit StopOnArrival(QtChannel& channel) : channel_(channel) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall) channel_.stop();
        return false;
    }

private:
    QtChannel& channel_;
};

}  // namespace

TEST(QtChannelTest, DeliversOnTheUiThreadWhileTheWorkerWaits) {
    QtChannel channel;
    FakeWindow report(WindowId::FReport);
    EXPECT_TRUE(fromWorkerThread([&] {
        return channel.deliver(WindowId::FReport, {NotifyCode::Statistics, 1});
    }));
    EXPECT_EQ(report.received, std::vector<std::uint32_t>{NotifyCode::Statistics});
    EXPECT_TRUE(report.onUiThread);

    EXPECT_TRUE(fromWorkerThread([&] { return channel.requestClose(WindowId::FReport); }));
    EXPECT_TRUE(report.closed);
    // A window that does not exist is "not delivered": the operation ends there.
    EXPECT_FALSE(fromWorkerThread([&] { return channel.deliver(WindowId::FTrace, {5, 0}); }));
    EXPECT_FALSE(fromWorkerThread([&] { return channel.requestClose(WindowId::FTrace); }));
}

TEST(QtChannelTest, AWindowOfTheSameClassOpenedLaterIsNotTheOneNamed) {
    QtChannel channel;
    WindowGeneration earlier = kAnyGeneration;
    {
        FakeWindow first(WindowId::FFlash);
        earlier = first.generation;
    }
    FakeWindow second(WindowId::FFlash);
    EXPECT_FALSE(fromWorkerThread([&] {
        return channel.deliver(WindowId::FFlash, earlier, {NotifyCode::Progress, 1});
    }));
    EXPECT_FALSE(fromWorkerThread([&] { return channel.requestClose(WindowId::FFlash, earlier); }));
    EXPECT_TRUE(second.received.empty());
    EXPECT_FALSE(second.closed);
    EXPECT_TRUE(fromWorkerThread([&] {
        return channel.deliver(WindowId::FFlash, second.generation, {NotifyCode::Progress, 1});
    }));
    EXPECT_EQ(second.received, std::vector<std::uint32_t>{NotifyCode::Progress});
}

TEST(QtChannelTest, StopAnswersAQueuedCallUndeliveredAndLaterOnesAtOnce) {
    QtChannel channel;
    FakeWindow trace(WindowId::FTrace);
    StopOnArrival stopper(channel);
    channel.installEventFilter(&stopper);
    EXPECT_FALSE(fromWorkerThread([&] {
        return channel.deliver(WindowId::FTrace, {NotifyCode::Done, 0});
    }));
    EXPECT_TRUE(trace.received.empty());

    // No event loop serves these: a stopped channel must not block the worker.
    bool delivered = true;
    std::thread worker([&] {
        delivered = channel.deliver(WindowId::FTrace, {NotifyCode::Done, 0}) ||
                    channel.requestClose(WindowId::FTrace);
    });
    worker.join();
    EXPECT_FALSE(delivered);
    EXPECT_TRUE(trace.received.empty());
    EXPECT_FALSE(trace.closed);
}

// The main window is closed from a queued call while the worker's delivery is
// already queued behind it: stopping the channel releases the worker at once.
TEST(QtChannelTest, MainWindowClosedFromAQueuedCallReleasesTheWaitingWorker) {
    VirtualClock clock;
    const k350sim::DeviceId board = PlugFreshBoard(clock);
    auto* window = new TFDevice(TFDevice::Options{true, &clock});
    window->session().worker().signal(WorkerRequest::ReadConfig);
    QElapsedTimer waited;
    waited.start();
    while (k350sim::transferLog().size() < 7 && waited.elapsed() < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // its delivery is queued now
    ASSERT_EQ(k350sim::configuration(board), 2);

    QElapsedTimer closing;
    closing.start();
    QEventLoop loop;
    QMetaObject::invokeMethod(
        window,
        [&] {
            window->close();
            loop.quit();
        },
        Qt::QueuedConnection);
    loop.exec();
    // Under the main window's 1.2 s fallback: a worker left waiting would show here.
    EXPECT_LT(closing.elapsed(), 1150);
    EXPECT_EQ(k350sim::transferLog().back().kind, k350sim::TransferKind::Close);
    delete window;
    ReleaseSim();
}

// The worker is inside a delivery to a user-interface thread that is busy
// closing the main window: the close must neither hang nor leave the board claimed.
TEST(QtChannelTest, MainWindowClosingWhileTheWorkerWaitsInADelivery) {
    VirtualClock clock;
    const k350sim::DeviceId board = PlugFreshBoard(clock);
    {
        TFDevice window(TFDevice::Options{true, &clock});
        window.session().worker().signal(WorkerRequest::ReadConfig);
        // Open, configuration, interface, size query and identification: then the
        // read's first report waits for this thread.
        QElapsedTimer waited;
        waited.start();
        while (k350sim::transferLog().size() < 7 && waited.elapsed() < 5000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(k350sim::configuration(board), 2);

        QElapsedTimer closing;
        closing.start();
        window.close();
        EXPECT_LT(closing.elapsed(), 1150);
        EXPECT_FALSE(window.document().hasConfig());
    }
    const auto log = k350sim::transferLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].kind, k350sim::TransferKind::ReleaseInterface);
    EXPECT_EQ(log.back().kind, k350sim::TransferKind::Close);
    ReleaseSim();
}
