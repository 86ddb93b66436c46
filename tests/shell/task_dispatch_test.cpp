// The board tasks and the task windows as the main window opens them: reading
// and writing the configuration on the simulated board, and the device tree
// dispatch with at most one window per class.
#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "config/ConfigImage.h"
#include "editors/CodecForm.h"
#include "shell/NodeCaptions.h"
#include "tests/support/ShellFixture.h"
#include "transfer/FlashForm.h"
#include "transfer/ReadForm.h"
#include "transfer/SaveForm.h"

namespace {
const QString kReadQuestion = "Не сохраненные данные будут утеряны. Прочитать устройство?";

k350sim::Bytes boardRecord(std::uint8_t model) {
    k350sim::Bytes record = k350sim::plausibleConfiguration(model);
    record[ConfigOffset::Vocoder] ^= 0x5A;  // a stale CRC word: a read installs it regardless
    return record;
}
}  // namespace

class ShellTasksTest : public ShellFixture {
protected:
    void readBoard() {
        trigger("MButtonGet");
        runWorker();
    }
    QWidget* activeWindow() {
        QMdiSubWindow* frame = window().clientArea()->activeSubWindow();
        return frame ? frame->widget() : nullptr;
    }
};

TEST_F(ShellTasksTest, ReadDeviceInstallsTheBoardRecordAndItsIds) {
    const k350sim::Bytes record = boardRecord(1);
    k350sim::setEeprom(board_, 0, record);
    readBoard();

    ASSERT_TRUE(window().document().hasConfig());
    const auto& bytes = window().document().snapshot().bytes;
    EXPECT_TRUE(std::equal(record.begin(), record.begin() + kImageSize, bytes.begin()));
    const k350sim::BoardOptions ids;
    EXPECT_TRUE(
        std::equal(ids.dieId.begin(), ids.dieId.end(), bytes.begin() + ConfigOffset::DieId));
    EXPECT_TRUE(
        std::equal(ids.chipId.begin(), ids.chipId.end(), bytes.begin() + ConfigOffset::ChipId));
    EXPECT_NE(node("K-350B"), nullptr);
    EXPECT_EQ(window().document().fileName(), "K350xx.kcf");
    EXPECT_TRUE(action("MButtonSet")->isEnabled());
    const QString log = window().logText();
    EXPECT_TRUE(log.contains("-> Процесс чтения конфигурации запущен"));
    EXPECT_TRUE(log.contains("-> Получено 140байт."));
    EXPECT_TRUE(log.contains("-> Процесс чтения конфигурации завершен"));
    EXPECT_NE(WindowRegistry::Find<TFRead>(WindowId::FRead), nullptr);
}

TEST_F(ShellTasksTest, ReadDeviceWithAConfigurationAsksThenClosesEverything) {
    installConfig(0);
    doubleClickNode("Кодек");
    ASSERT_NE(WindowRegistry::Find<TFCodec>(WindowId::FCodec), nullptr);

    trigger("MTaskGet");  // answered No
    EXPECT_EQ(dialogs_.questions, QStringList{kReadQuestion});
    EXPECT_TRUE(window().document().hasConfig());
    EXPECT_FALSE(window().session().worker().isSignalled(WorkerRequest::ReadConfig));

    dialogs_.yesNoAnswers.push_back(true);
    trigger("MTaskGet");
    EXPECT_EQ(WindowRegistry::Find<TFCodec>(WindowId::FCodec), nullptr);
    EXPECT_FALSE(window().document().hasConfig());
    auto* read = WindowRegistry::Find<TFRead>(WindowId::FRead);
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(window().session().worker().isSignalled(WorkerRequest::ReadConfig));

    trigger("MTaskGet");  // the open read window only comes to the front
    EXPECT_EQ(dialogs_.questions.size(), 2);
    EXPECT_EQ(WindowRegistry::Find<TFRead>(WindowId::FRead), read);
    EXPECT_EQ(openWindowCount(), 1);
}

TEST_F(ShellTasksTest, ReadFromAMissingBoardLogsWhyAndInstallsNothing) {
    k350sim::unplug(board_);
    readBoard();
    EXPECT_FALSE(window().document().hasConfig());
    EXPECT_TRUE(window().logText().contains("-> Контроллер K-350 не обнаружен на шине USB"));
}

TEST_F(ShellTasksTest, WriteDeviceSendsTheSettingsPartAtUserLevelAndAllAtFullService) {
    const k350sim::Bytes original = boardRecord(0);
    k350sim::setEeprom(board_, 0, original);
    readBoard();
    auto& bytes = window().document().snapshot().bytes;
    std::fill(bytes.begin() + 2, bytes.begin() + kImageSize, 0x77);

    trigger("MButtonSet");
    runWorker();
    k350sim::Bytes eeprom = k350sim::eeprom(board_);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 56, eeprom.begin()));
    EXPECT_TRUE(std::equal(original.begin() + 56, original.end(), eeprom.begin() + 56));
    EXPECT_EQ(StoredCrc(window().document().snapshot()),
              ComputeCrc(window().document().crc(), window().document().snapshot()));
    EXPECT_TRUE(window().logText().contains("-> Процесс загрузки конфигурации завершен"));

    WindowRegistry::Find<TFSave>(WindowId::FSave)->closeWindow();
    window().setServiceLevel(ServiceLevel::FullService);
    doubleClickNode("Записать");
    runWorker();
    eeprom = k350sim::eeprom(board_);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + kImageSize, eeprom.begin()));
    EXPECT_EQ(eeprom[kImageSize], 0xFF);
}

TEST_F(ShellTasksTest, WriteDeviceWithItsWindowOpenOnlyBringsItToTheFront) {
    installConfig(0);
    trigger("MTaskSet");
    auto* save = WindowRegistry::Find<TFSave>(WindowId::FSave);
    ASSERT_NE(save, nullptr);
    doubleClickNode("Кодек");
    window().document().snapshot().bytes[0] ^= 0xFF;
    const std::uint16_t stale = StoredCrc(window().document().snapshot());
    trigger("MButtonSet");
    EXPECT_EQ(StoredCrc(window().document().snapshot()), stale);
    EXPECT_EQ(WindowRegistry::Find<TFSave>(WindowId::FSave), save);
    EXPECT_EQ(activeWindow(), save);
    EXPECT_EQ(openWindowCount(), 2);
}

TEST_F(ShellTasksTest, EveryTreeTaskOpensOneWindowAndAgainOnlyBringsItToTheFront) {
    installConfig(1);
    window().setServiceLevel(ServiceLevel::FullService);
    const QStringList captions{"Кодек",      "Вокодер",    "Регистратор", "Усилитель НЧ",
                               "Статистика", "Board Info", "Trace",       "UART"};
    for (const QString& caption : captions) pressKeyOnNode(caption, Qt::Key_Return);
    EXPECT_EQ(openWindowCount(), captions.size());
    auto* codec = WindowRegistry::Find<TFCodec>(WindowId::FCodec);
    ASSERT_NE(codec, nullptr);
    EXPECT_NE(WindowRegistry::Get(WindowId::FVocoder), nullptr);
    EXPECT_NE(WindowRegistry::Get(WindowId::FRecoder), nullptr);
    EXPECT_NE(WindowRegistry::Get(WindowId::FAudio), nullptr);
    EXPECT_NE(WindowRegistry::Get(WindowId::FReport), nullptr);
    EXPECT_NE(WindowRegistry::Get(WindowId::FBoard), nullptr);
    EXPECT_NE(WindowRegistry::Get(WindowId::FTrace), nullptr);
    EXPECT_NE(WindowRegistry::Get(WindowId::FUart), nullptr);

    doubleClickNode("Кодек");
    EXPECT_EQ(openWindowCount(), captions.size());
    EXPECT_EQ(WindowRegistry::Find<TFCodec>(WindowId::FCodec), codec);
    EXPECT_EQ(activeWindow(), codec);

    // A drop of level leaves them open; closing the configuration closes them all.
    window().setServiceLevel(ServiceLevel::User);
    EXPECT_EQ(openWindowCount(), captions.size());
    trigger("MFileClose");
    EXPECT_EQ(openWindowCount(), 0);
    EXPECT_EQ(WindowRegistry::Find<TFCodec>(WindowId::FCodec), nullptr);
}

TEST_F(ShellTasksTest, CancelledFirmwareChoiceLeavesNoWindowAndNoRequest) {
    installConfig(0);
    window().setServiceLevel(ServiceLevel::Service);
    doubleClickNode("Загрузка ПО");
    EXPECT_EQ(openWindowCount(), 0);
    EXPECT_EQ(WindowRegistry::Find<TFFlash>(WindowId::FFlash), nullptr);
    EXPECT_FALSE(window().session().worker().isSignalled(WorkerRequest::LoadFirmware));
    EXPECT_TRUE(dialogs_.messages.isEmpty());

    dialogs_.openAnswers.push_back(writeFile("fw.rom", {1, 2, 3, 4}));
    doubleClickNode("Загрузка ПО");
    EXPECT_NE(WindowRegistry::Find<TFFlash>(WindowId::FFlash), nullptr);
    EXPECT_TRUE(window().session().worker().isSignalled(WorkerRequest::LoadFirmware));
    EXPECT_EQ(openWindowCount(), 1);
}

TEST_F(ShellTasksTest, FirmwareDialogAndItsMessageOpenOverTheMainWindowLikeTheFileDialogs) {
    installConfig(0);
    window().setServiceLevel(ServiceLevel::Service);
    dialogs_.openAnswers.push_back(tempPath("missing.rom"));
    doubleClickNode("Загрузка ПО");
    ASSERT_EQ(dialogs_.messages.size(), 1);
    trigger("MFileSaveAs");  // cancelled
    QWidget* main = &window();
    EXPECT_EQ(dialogs_.dialogParents, (QList<QWidget*>{main, main, main}));
    EXPECT_EQ(dialogs_.openFilters.first(),
              "К350 программное обеспечение (*.rom)|*.rom|все файлы|*");
}

TEST_F(ShellTasksTest, ABlankSnapshotKeepsOpenEditorsOnValidStorageWhenAReadReplacesIt) {
    window().setServiceLevel(ServiceLevel::FullService);
    doubleClickNode("Кодек");
    const std::uint8_t* before = window().document().snapshot().data();
    k350sim::setEeprom(board_, 0, boardRecord(1));
    dialogs_.yesNoAnswers.push_back(true);
    readBoard();
    EXPECT_EQ(window().document().snapshot().data(), before);
    EXPECT_EQ(window().document().snapshot().model(), 1);
}

TEST_F(ShellTasksTest, InformationRefreshesTheCrcEachTimeButOpensOneWindow) {
    installConfig(0);
    auto& bytes = window().document().snapshot().bytes;
    const std::uint16_t good =
        ComputeCrc(window().document().crc(), window().document().snapshot());
    bytes[0] ^= 0xFF;
    doubleClickNode("Информация");
    EXPECT_EQ(StoredCrc(window().document().snapshot()), good);
    auto* info = WindowRegistry::Get(WindowId::FInfo);
    ASSERT_NE(info, nullptr);
    bytes[0] ^= 0xFF;
    pressKeyOnNode("Информация", Qt::Key_Enter);
    EXPECT_EQ(StoredCrc(window().document().snapshot()), good);
    EXPECT_EQ(WindowRegistry::Get(WindowId::FInfo), info);
    EXPECT_EQ(openWindowCount(), 1);
}

TEST_F(ShellTasksTest, TileCommandsPutWindowsSideBySideOrOneAboveTheOther) {
    installConfig(0);
    window().resize(1400, 1000);
    for (const char* caption : {"Статистика", "Информация"}) doubleClickNode(caption);
    const auto frames = window().clientArea()->subWindowList();
    ASSERT_EQ(frames.size(), 2);
    trigger("TileVertical");
    EXPECT_EQ(frames[0]->y(), frames[1]->y());
    EXPECT_LT(frames[0]->x(), frames[1]->x());
    trigger("TileHorizontal");
    EXPECT_EQ(frames[0]->x(), frames[1]->x());
    EXPECT_LT(frames[0]->y(), frames[1]->y());
}

// Every node without children that a layout shows reaches its task, and every group caption is
// the one the layouts spell (the service group's first letter is a Latin C).
TEST_F(ShellTasksTest, EveryTaskNodeOfTheFullServiceLayoutIsDispatched) {
    EXPECT_EQ(QString::fromUtf8(NodeCaption::Service), QString("C") + QChar(0x0435) + "рвис");
    installConfig(0);
    window().setServiceLevel(ServiceLevel::FullService);
    QStringList leaves;
    for (QTreeWidgetItemIterator it(window().tree()); *it; ++it) {
        if ((*it)->childCount() == 0) leaves << (*it)->text(0);
    }
    ASSERT_EQ(leaves.size(), 12);
    for (const char* group : {NodeCaption::Tasks, NodeCaption::Devices, NodeCaption::Service}) {
        EXPECT_NE(node(group), nullptr) << group;
    }
    for (const QString& caption : leaves) {
        const auto reactions = [&] {
            return openWindowCount() + dialogs_.questions.size() + dialogs_.openTitles.size();
        };
        const auto before = reactions();
        doubleClickNode(caption);
        EXPECT_GT(reactions(), before) << caption.toStdString();
    }
}
