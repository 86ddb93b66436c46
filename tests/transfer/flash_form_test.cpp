// What the firmware window leaves behind when a download does not run to its end: a log line
// when the user cancels it, and a question before the main window closes under it.
#include <QPushButton>

#include "tests/support/ShellFixture.h"
#include "tests/support/SimBoards.h"
#include "transfer/FlashForm.h"

namespace {

using Bytes = k350sim::Bytes;

class FlashFormTest : public ShellFixture {
protected:
    FlashFormTest() {
        installConfig(0);
        window().setServiceLevel(ServiceLevel::Service);
        dialogs_.openAnswers.push_back(writeFile("fw.rom", Bytes(0x8000 + 300, 0x5A)));
        doubleClickNode("Загрузка ПО");
    }
    ~FlashFormTest() override { k350sim::setReplyHook({}); }

    static TFFlash* flashWindow() { return WindowRegistry::Find<TFFlash>(WindowId::FFlash); }
    int logCount(const QString& text) { return int(window().logText().count(text)); }
    // The worker has taken the image: as far as the window knows, the flash is being written.
    void handOverImage() {
        transfer_ = TransferData{};
        flashWindow()->onWorkerNotification(
            {NotifyCode::FillData, reinterpret_cast<std::intptr_t>(&transfer_)});
    }

    TransferData transfer_;
};

TEST_F(FlashFormTest, CancelDuringTheDownloadLogsThatTheFlashIsIncomplete) {
    ASSERT_NE(flashWindow(), nullptr);
    k350sim::setReplyHook([&](k350sim::DeviceId, const Bytes& request, Bytes&) {
        if (IsSectorEraseAt(request, 0x8000) && flashWindow())
            flashWindow()->findChild<QPushButton*>("But")->click();
        return 0;
    });
    runWorker();
    EXPECT_EQ(flashWindow(), nullptr);
    EXPECT_EQ(logCount(TFFlash::kCancelledLine), 1);
}

TEST_F(FlashFormTest, FinishedFailedOrNeverStartedDownloadsLogNoCancel) {
    runWorker();
    ASSERT_NE(flashWindow(), nullptr);
    flashWindow()->findChild<QPushButton*>("But")->click();  // "Закрыть" after the end
    EXPECT_EQ(logCount(TFFlash::kCancelledLine), 0);

    dialogs_.openAnswers.push_back(writeFile("fw2.rom", Bytes(300, 0x5A)));
    doubleClickNode("Загрузка ПО");
    handOverImage();
    flashWindow()->closeFromWorker();  // a failure, reported by the worker itself
    EXPECT_EQ(logCount(TFFlash::kCancelledLine), 0);

    dialogs_.openAnswers.push_back(writeFile("fw3.rom", Bytes(300, 0x5A)));
    doubleClickNode("Загрузка ПО");
    flashWindow()->findChild<QPushButton*>("But")->click();  // before the worker took it
    EXPECT_EQ(logCount(TFFlash::kCancelledLine), 0);
}

TEST_F(FlashFormTest, ClosingTheMainWindowDuringADownloadAsksAndOnlyNoStops) {
    handOverImage();
    dialogs_.yesNoAnswers = {false, true};
    window().close();
    EXPECT_EQ(dialogs_.questions, QStringList{QString::fromUtf8(kLeaveDownloadQuestion)});
    EXPECT_TRUE(window().isVisible());
    ASSERT_NE(flashWindow(), nullptr);
    window().close();
    EXPECT_EQ(dialogs_.questions.size(), 2);
    EXPECT_FALSE(window().isVisible());
}

TEST_F(FlashFormTest, ClosingTheMainWindowWithoutADownloadAsksNothing) {
    runWorker();  // finished
    window().close();
    EXPECT_TRUE(dialogs_.questions.isEmpty());
    EXPECT_FALSE(window().isVisible());
}

}  // namespace
