// The progress windows as the worker and the user drive them: notifications move the gauge and
// show the IDs, completion starts the 10-second self-close, closing withdraws the request, and
// the firmware window hands over an image that outlives it.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "config/ServiceLevel.h"
#include "config/Clock.h"
#include "link/K350Task.h"
#include "monitor/BoardForm.h"
#include "monitor/FormInfo.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/ShellFixture.h"
#include "tests/support/VirtualClock.h"
#include "tests/support/WindowControls.h"
#include "transfer/FlashForm.h"
#include "transfer/ReadForm.h"
#include "transfer/SaveForm.h"
#include "ui/WindowRegistry.h"

namespace {

const QString kBadFileTail =
    QStringLiteral(" поврежден, либо не соответствует данному устройству ");

class TransferFormsTest : public ::testing::Test {
protected:
    void SetUp() override { SetK350Worker(&worker); }
    void TearDown() override { SetK350Worker(nullptr); }

    static void notify(TaskWindow& window, std::uint32_t code, std::intptr_t value) {
        window.onWorkerNotification({code, value});
    }
    static void notifyAddress(TaskWindow& window, std::uint32_t code, const void* address) {
        notify(window, code, reinterpret_cast<std::intptr_t>(address));
    }
    template <class T = QLabel>
    static T* control(QWidget& window, const char* name) {
        return NamedControl<T>(window, name);
    }
    static QString text(QWidget& window, const char* name) { return control(window, name)->text(); }
    static int gauge(QWidget& window) { return control<QProgressBar>(window, "CGauge1")->value(); }

    QString writeFile(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    RecordingChannel channel;
    VirtualClock clock;
    TK350 worker{channel, clock};
    FakeDialogs dialogs;
    QTemporaryDir dir;
};

TEST_F(TransferFormsTest, ReadShowsTheCourseOfTheReadAndClosesItselfTenSecondsAfterCompletion) {
    TFRead read;
    read.show();
    EXPECT_EQ(read.windowTitle(), "Чтение конфигурации");
    ExpectFixedSize(read, QSize(297, 220));
    EXPECT_TRUE(worker.isSignalled(WorkerRequest::ReadConfig));
    EXPECT_EQ(WindowRegistry::Get(WindowId::FRead), &read);
    auto* timer = control<QTimer>(read, "Timer");
    EXPECT_EQ(timer->interval(), 10000);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(text(read, "LProduct"), "Контроллер К-350");
    EXPECT_EQ(control<QPushButton>(read, "But")->text(), "Отмена");

    const std::uint8_t ids[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                  0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    notifyAddress(read, NotifyCode::DieId, ids);
    notifyAddress(read, NotifyCode::ChipId, ids + 8);
    notify(read, NotifyCode::Total, 140);
    notify(read, NotifyCode::Progress, 70);
    EXPECT_EQ(text(read, "SDie"), "0x0123456789ABCDEF");
    EXPECT_EQ(text(read, "SChip"), "0xFEDCBA9876543210");
    EXPECT_EQ(gauge(read), 50);
    EXPECT_EQ(control<QProgressBar>(read, "CGauge1")->text(), "50%");
    EXPECT_TRUE(text(read, "SComment").isEmpty());

    notify(read, NotifyCode::Progress, 140);
    notify(read, NotifyCode::Done, 140);
    EXPECT_EQ(gauge(read), 100);
    EXPECT_EQ(text(read, "SComment"), "Чтение завершено");
    EXPECT_EQ(control<QPushButton>(read, "But")->text(), "Закрыть");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 10000);

    // Ten seconds pass.
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_TRUE(read.isClosing());
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(WindowRegistry::Get(WindowId::FRead), nullptr);
}

TEST_F(TransferFormsTest, SaveClosedBeforeTheWorkerTakesTheRequestWritesNothing) {
    {
        TFSave save;
        save.show();
        EXPECT_EQ(save.windowTitle(), "Загрузка конфигурации");
        EXPECT_TRUE(worker.isSignalled(WorkerRequest::WriteConfig));
        QTest::mouseClick(control<QPushButton>(save, "But"), Qt::LeftButton);
        EXPECT_TRUE(save.isClosing());
        EXPECT_FALSE(worker.isSignalled(WorkerRequest::WriteConfig));
    }
    EXPECT_FALSE(worker.runOnePass());
    EXPECT_TRUE(channel.events().empty());
}

TEST_F(TransferFormsTest, GaugeCopesWithAnEmptyTransferAndCountsUpToFourGibibytes) {
    TFRead read;
    notify(read, NotifyCode::Total, 0);
    notify(read, NotifyCode::Progress, 0);
    EXPECT_EQ(gauge(read), 0);
    EXPECT_EQ(control<QProgressBar>(read, "CGauge1")->text(), "0%");

    notify(read, NotifyCode::Total, std::intptr_t(0xFFFFFFFFu));
    notify(read, NotifyCode::Progress, std::intptr_t(0x7FFFFFFFu));
    EXPECT_EQ(gauge(read), 49);
    notify(read, NotifyCode::Progress, std::intptr_t(0xFFFFFFFFu));
    EXPECT_EQ(gauge(read), 100);

    // A file longer than the flash: the count stops short of the total.
    notify(read, NotifyCode::Total, 262144);
    notify(read, NotifyCode::Progress, 131072);
    EXPECT_EQ(gauge(read), 50);
    notify(read, NotifyCode::Total, 100);
    notify(read, NotifyCode::Progress, 150);
    EXPECT_EQ(gauge(read), 100);
}

TEST_F(TransferFormsTest, ReadAndSaveLeaveTheFillRequestUnanswered) {
    TFRead read;
    TFSave save;
    for (TaskWindow* window : {static_cast<TaskWindow*>(&read), static_cast<TaskWindow*>(&save)}) {
        TransferData transfer;
        notifyAddress(*window, NotifyCode::FillData, &transfer);
        EXPECT_EQ(transfer.count, 0u);
        EXPECT_EQ(transfer.data, nullptr);
        EXPECT_EQ(transfer.owner, nullptr);
    }
    notify(read, 12, 0);  // unknown codes change nothing
    EXPECT_EQ(gauge(read), 0);
}

TEST_F(TransferFormsTest, FlashWithCancelledDialogRequestsNothing) {
    TFFlash flash;
    EXPECT_FALSE(flash.loadImageAndStart());
    ASSERT_EQ(dialogs.openFilters.size(), 1);
    EXPECT_EQ(dialogs.openFilters[0], "К350 программное обеспечение (*.rom)|*.rom|все файлы|*");
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_FALSE(worker.isSignalled(WorkerRequest::LoadFirmware));
    EXPECT_EQ(WindowRegistry::Get(WindowId::FFlash), nullptr);
}

TEST_F(TransferFormsTest, FlashRejectsAMissingFileAndAFolderWithTheFullPath) {
    for (const QString& path : {dir.filePath("нет такого.rom"), dir.path()}) {
        dialogs.messages.clear();
        dialogs.openAnswers.push_back(path);
        TFFlash flash;
        EXPECT_FALSE(flash.loadImageAndStart());
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_EQ(dialogs.messages[0], "Файл " + path + kBadFileTail);
        EXPECT_FALSE(worker.isSignalled(WorkerRequest::LoadFirmware));
    }
}

TEST_F(TransferFormsTest, FlashHandsOverAnImageThatOutlivesTheClosedWindow) {
    const QByteArray content("any bytes at all\x00\xFF", 18);
    dialogs.openAnswers.push_back(writeFile("образ.rom", content));
    auto flash = std::make_unique<TFFlash>();
    ASSERT_TRUE(flash->loadImageAndStart());
    EXPECT_EQ(flash->windowTitle(), "Загрузка ПО");
    EXPECT_TRUE(worker.isSignalled(WorkerRequest::LoadFirmware));

    TransferData transfer;
    notifyAddress(*flash, NotifyCode::FillData, &transfer);
    ASSERT_EQ(transfer.count, 18u);
    EXPECT_EQ(transfer.data, transfer.owner->data());

    flash->close();
    EXPECT_FALSE(worker.isSignalled(WorkerRequest::LoadFirmware));
    flash.reset();
    // The worker still reads the bytes it holds.
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(transfer.data), int(transfer.count)),
              content);
}

TEST_F(TransferFormsTest, BoardAndDescriptionWindowsShareTheProductHeader) {
    TFBoard board;
    TFInfo info;
    EXPECT_EQ(text(board, "Label1"), "Product Name: CPS for K-350");
    EXPECT_EQ(text(board, "Label2"), "Version 1.0");
    EXPECT_EQ(text(info, "Label1"), "Product Name: ПО для K-350");
    EXPECT_EQ(text(info, "Label2"), "Version 1.1");
    TFRead read;
    for (QWidget* window : {static_cast<QWidget*>(&board), static_cast<QWidget*>(&info),
                            static_cast<QWidget*>(&read)}) {
        EXPECT_EQ(control(*window, "ProgramIcon")->size(), QSize(121, 57));
    }
    read.close();
}

TEST_F(TransferFormsTest, WindowsWorkWithoutAWorker) {
    SetK350Worker(nullptr);
    TFRead read;
    notify(read, NotifyCode::Done, 140);
    read.close();
    EXPECT_EQ(WindowRegistry::Get(WindowId::FRead), nullptr);
}

}  // namespace

// --- with the main window, its worker and the simulated board ------------------------------------

namespace {

// A firmware window the user closes while the worker announces the chunk at 256.
class FlashClosedMidway : public TFFlash {
public:
    void onWorkerNotification(const WorkerNotification& notification) override {
        TFFlash::onWorkerNotification(notification);
        if (notification.code == NotifyCode::Progress && notification.value == 256) closeWindow();
    }
};

class TransferOnBoardTest : public ShellFixture {
protected:
    template <class T>
    T* startFlash(const std::vector<std::uint8_t>& image) {
        window().setServiceLevel(ServiceLevel::Service);
        dialogs_.openAnswers.push_back(writeFile("fw.rom", image));
        auto* flash = new T;
        EXPECT_TRUE(flash->loadImageAndStart());
        window().showTaskWindow(flash);
        return flash;
    }
    static std::vector<std::uint8_t> image(std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = std::uint8_t(i * 7 + 3);
        return bytes;
    }
    static QString shown(QWidget* window, const char* name) {
        return window->findChild<QLabel*>(name)->text();
    }
};

TEST_F(TransferOnBoardTest, ReadWindowFollowsTheReadAndGoesAwayTenSecondsLater) {
    trigger("MButtonGet");
    QPointer<TFRead> read = WindowRegistry::Find<TFRead>(WindowId::FRead);
    ASSERT_FALSE(read.isNull());
    runWorker();
    EXPECT_EQ(shown(read, "SDie"), "0x350A0123456789AB");
    EXPECT_EQ(shown(read, "SChip"), "0x5449000550C10207");
    EXPECT_EQ(shown(read, "SComment"), "Чтение завершено");
    EXPECT_EQ(read->findChild<QProgressBar*>("CGauge1")->value(), 100);
    EXPECT_EQ(read->findChild<QPushButton*>("But")->text(), "Закрыть");

    QMetaObject::invokeMethod(read->findChild<QTimer*>("Timer"), "timeout");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(read.isNull());
    EXPECT_EQ(openWindowCount(), 0);
}

TEST_F(TransferOnBoardTest, ClosingTheFirmwareWindowMidwayKeepsTheImageForTheChunkUnderWay) {
    const auto bytes = image(1000);
    QPointer<TFFlash> flash = startFlash<FlashClosedMidway>(bytes);
    runWorker();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(flash.isNull());
    // The chunk announced before the close is programmed from the image the worker still holds;
    // the download then ends at its next notification.
    const k350sim::Bytes stored = k350sim::flash(board_);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 512, stored.begin()));
    EXPECT_TRUE(std::all_of(stored.begin() + 512, stored.begin() + 1000,
                            [](std::uint8_t b) { return b == 0xFF; }));
}

}  // namespace
