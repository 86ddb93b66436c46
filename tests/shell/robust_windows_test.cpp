// The real windows going away in the middle of their operations: each task window
// closed and destroyed right after every notification of its operation, and the
// main window closed at every reply of every operation while its worker thread runs.
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

#include "config/ConfigImage.h"
#include "config/Crc.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/RobustWindows.h"
#include "tests/support/ShellFixture.h"
#include "tests/support/SimBoards.h"
#include "tests/support/SimTime.h"
#include "tests/support/VirtualClock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using robust::WindowOperation;
using robust::WindowTap;

Bytes firmwareImage() {
    Bytes bytes(600);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 13 + 1);
    return bytes;
}

void queueTraceRecords(k350sim::DeviceId board) {
    k350sim::pushTraceRecord(board, {0x00, 0x00, 0x41, 0x42});
    k350sim::pushTraceRecord(board, {0x00, 0x03, 0x43});
}

bool contains(const std::vector<std::uint32_t>& codes, std::uint32_t code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// Log lines of failures the worker reported.
int errorLines(const TFDevice& device) {
    return int(device.logText().count("Error:"));
}

}  // namespace

// --- a task window closed after each notification of its operation -----------

class TaskWindowClosedTest : public ShellFixture {
protected:
    TaskWindowClosedTest() {
        installConfig(0);
        window().setServiceLevel(ServiceLevel::FullService);
        firmwarePath_ = writeFile("fw.rom", firmwareImage());
    }

    struct Run {
        std::vector<std::uint32_t> codes;
        bool windowLeft = false;  // the tap still had a live window at the end
        int newErrors = 0;
    };

    Run runOperation(const WindowOperation& operation, int closeAfter) {
        closeAll();
        queueTraceRecords(board_);
        robust::openOperation(window(), dialogs_, operation, firmwarePath_);
        EXPECT_NE(WindowRegistry::Get(operation.window), nullptr);
        const int errorsBefore = errorLines(window());
        WindowTap tap(operation.window, closeAfter);
        runWorker();
        return {tap.codes(), tap.hasWindow(), errorLines(window()) - errorsBefore};
    }

    void closeAll() {
        window().closeAllTaskWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QString firmwarePath_;
};

TEST_F(TaskWindowClosedTest, EveryWindowClosedAfterEachNotificationEndsItsOperationSilently) {
    int closedRuns = 0;
    for (const WindowOperation& operation : robust::windowOperations()) {
        SCOPED_TRACE(operation.name);
        const Run healthy = runOperation(operation, WindowTap::kNever);
        ASSERT_TRUE(contains(healthy.codes, operation.successCode));
        ASSERT_EQ(healthy.newErrors, 0);
        const int points = int(healthy.codes.size());

        for (int closeAfter = 1; closeAfter <= points; ++closeAfter) {
            SCOPED_TRACE("closed after notification " + std::to_string(closeAfter));
            const Run closed = runOperation(operation, closeAfter);
            EXPECT_EQ(int(closed.codes.size()), closeAfter);  // nothing reached it afterwards
            EXPECT_FALSE(closed.windowLeft);
            EXPECT_EQ(WindowRegistry::Get(operation.window), nullptr);
            EXPECT_EQ(closed.newErrors, 0);
            EXPECT_TRUE(window().session().worker().isLinkOpen());
            ++closedRuns;

            const Run next = runOperation(operation, WindowTap::kNever);
            EXPECT_TRUE(contains(next.codes, operation.successCode));
            EXPECT_EQ(next.newErrors, 0);
        }
    }
    std::printf("[ closed   ] %d task window runs\n", closedRuns);
}

// --- the main window closed while its worker thread runs an operation ---------

class MainWindowClosedTest : public ::testing::Test {
protected:
    void SetUp() override {
        freshBoard();
        firmwarePath_ = dir_.filePath("fw.rom");
        QFile file(firmwarePath_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const Bytes image = firmwareImage();
        file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size()));
    }
    // Each run on a board just plugged in: nothing traced, nothing selected.
    void freshBoard() { board_ = PlugFreshBoard(clock_); }
    void TearDown() override { ReleaseSim(); }

    std::unique_ptr<TFDevice> makeDevice(bool workerThread) {
        auto device = std::make_unique<TFDevice>(TFDevice::Options{workerThread, &clock_});
        device->show();
        TCrc crc;
        ConfigSnapshot snapshot = MakeBlankSnapshot(crc, "01.02.2026");
        RefreshCrc(crc, snapshot);
        device->InstallConfig(snapshot.data());
        device->setServiceLevel(ServiceLevel::FullService);
        return device;
    }

    // Replies the board makes to one healthy run of the operation (worker on this thread).
    int repliesOf(const WindowOperation& operation) {
        freshBoard();
        auto device = makeDevice(false);
        auto replies = std::make_shared<std::atomic<int>>(0);
        k350sim::setReplyHook([replies](int, const Bytes&, Bytes&) {
            ++*replies;
            return 0;
        });
        queueTraceRecords(board_);
        robust::openOperation(*device, dialogs_, operation, firmwarePath_);
        while (device->session().worker().runOnePass()) {
        }
        k350sim::setReplyHook({});
        return *replies;
    }

    // Every handle the terminal opened has been closed again.
    static bool boardReleased() { return BoardReleased(); }

    // Another worker can take the board at once.
    bool boardUsable() {
        RecordingChannel channel;
        channel.open(WindowId::FDevice);
        channel.open(WindowId::FReport);
        TK350 worker(channel, clock_);
        worker.signal(WorkerRequest::ReadStatistics);
        worker.runOnePass();
        const bool answered = !channel.codes(WindowId::FReport).empty();
        worker.runExitSequence();
        return answered;
    }

    void closeAtReply(const WindowOperation& operation, int reply) {
        freshBoard();
        auto device = makeDevice(true);
        TFDevice* raw = device.get();
        auto count = std::make_shared<std::atomic<int>>(0);
        auto reached = std::make_shared<std::atomic<bool>>(false);
        // Runs on the worker thread, inside the transfer; the person closes the window as
        // soon as the user-interface thread gets to it.
        k350sim::setReplyHook([count, reached, reply](int, const Bytes&, Bytes&) {
            if ((*count)++ == reply) *reached = true;
            return 0;
        });
        queueTraceRecords(board_);
        robust::openOperation(*device, dialogs_, operation, firmwarePath_);
        QTRY_VERIFY_WITH_TIMEOUT(reached->load(), 10000);
        dialogs_.yesNoAnswers = {true};  // yes, leave a download half done
        raw->close();
        dialogs_.yesNoAnswers.clear();
        k350sim::setReplyHook({});
        EXPECT_TRUE(boardReleased());
        device.reset();
        EXPECT_EQ(WindowRegistry::Get(WindowId::FDevice), nullptr);
        EXPECT_EQ(WindowRegistry::Get(operation.window), nullptr);
        EXPECT_TRUE(boardUsable());
    }

    VirtualClock clock_;
    FakeDialogs dialogs_;
    QTemporaryDir dir_;
    QString firmwarePath_;
    k350sim::DeviceId board_ = 0;
};

TEST_F(MainWindowClosedTest, ClosedAtEveryReplyOfEveryOperationReleasesTheBoard) {
    int closedRuns = 0;
    for (const WindowOperation& operation : robust::windowOperations()) {
        SCOPED_TRACE(operation.name);
        const int replies = repliesOf(operation);
        ASSERT_GT(replies, 0);
        for (int reply = 0; reply < replies; ++reply) {
            SCOPED_TRACE("closed at reply " + std::to_string(reply));
            closeAtReply(operation, reply);
            ++closedRuns;
        }
    }
    std::printf("[ closed   ] %d main window runs\n", closedRuns);
}
