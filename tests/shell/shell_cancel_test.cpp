// "Отмена" in the firmware window and "Загрузка ПО" again at once, through the
// real windows: the cancelled download stops, and the new window, whether its
// file dialog is still open or it already runs, sees only its own download.
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <utility>

#include "tests/support/ShellFixture.h"
#include "tests/support/SimBoards.h"
#include "transfer/FlashForm.h"

namespace {

constexpr std::uint32_t kFirmwareSize = 0x8000 + 300;  // two sectors
using Bytes = k350sim::Bytes;

Bytes image() {
    Bytes bytes(kFirmwareSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 13 + 1);
    return bytes;
}

// Answers the firmware file dialog, and lets the test act while it is open.
class DialogsWithPause : public FakeDialogs {
public:
    std::function<void()> whileOpen;
    QString openFile(QWidget* parent, const QString& title, const QString& filter) override {
        if (auto action = std::exchange(whileOpen, {})) action();
        return FakeDialogs::openFile(parent, title, filter);
    }
};

}  // namespace

class ShellCancelTest : public ShellFixture {
protected:
    ShellCancelTest() {
        installConfig(0);
        window().setServiceLevel(ServiceLevel::Service);
        imagePath_ = writeFile("fw.rom", image());
    }
    void openFirmware() {
        dialogs.openAnswers.push_back(imagePath_);
        doubleClickNode("Загрузка ПО");
    }
    static TFFlash* flashWindow() { return WindowRegistry::Find<TFFlash>(WindowId::FFlash); }
    static void pressCancel() { flashWindow()->findChild<QPushButton*>("But")->click(); }
    static QString comment() { return flashWindow()->findChild<QLabel*>("SComment")->text(); }

    std::uint32_t bytesProgrammed() const {
        std::uint32_t bytes = 0;
        for (const Bytes& request : k350sim::requests()) {
            if (request.size() > 12 && request[0] == 2 && request[8] == 0x02)
                bytes += std::uint32_t(request.size() - 12);
        }
        return bytes;
    }
    int logCount(const QString& text) { return int(window().logText().count(text)); }

    QString imagePath_;
    DialogsWithPause dialogs;  // answers in place of the fixture's own, from now on
};

TEST_F(ShellCancelTest, CancelAtTheSecondEraseAndReopenRunsOnlyTheNewDownload) {
    openFirmware();
    bool reopened = false;
    k350sim::setReplyHook([&](k350sim::DeviceId, const Bytes& request, Bytes&) {
        if (!reopened && IsSectorEraseAt(request, 0x8000)) {
            reopened = true;
            pressCancel();
            openFirmware();
        }
        return 0;
    });
    runWorker();
    ASSERT_TRUE(reopened);
    EXPECT_EQ(k350sim::eraseLog(board_), (std::vector<std::uint32_t>{0, 0x8000, 0, 0x8000}));
    EXPECT_EQ(bytesProgrammed(), 0x8000 + kFirmwareSize);  // the first up to the cancel only
    EXPECT_EQ(k350sim::flash(board_), [] {
        Bytes flash = image();
        flash.resize(128 * 1024, 0xFF);
        return flash;
    }());
    EXPECT_EQ(logCount("Передано " + QString::number(kFirmwareSize) + "байт."), 1);
    ASSERT_NE(flashWindow(), nullptr);
    EXPECT_EQ(comment(), "Загрузка завершена");
}

TEST_F(ShellCancelTest, WindowClosedWhileItsFileDialogIsOpenIsNeverShownAndAsksNothing) {
    dialogs.openAnswers.push_back(imagePath_);
    // As a close request of an earlier download would close it.
    dialogs.whileOpen = [] { flashWindow()->closeFromWorker(); };
    doubleClickNode("Загрузка ПО");
    EXPECT_EQ(flashWindow(), nullptr);
    EXPECT_EQ(openWindowCount(), 0);
    EXPECT_FALSE(window().session().worker().isSignalled(WorkerRequest::LoadFirmware));
}
