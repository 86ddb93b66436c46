// The main window with its real worker thread and the simulated board: read,
// save, close, open and write as a person would, waiting for the worker's
// reports on the event loop. Pauses of the operations run on the virtual clock.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "config/ConfigImage.h"
#include "monitor/BoardForm.h"
#include "tests/support/ShellFixture.h"
#include "tests/support/TestLocales.h"

namespace {
constexpr int kWaitMs = 10000;
}

class ShellEndToEndTest : public ShellFixture {
protected:
    ShellEndToEndTest() : ShellFixture(true) {}

    bool logged(const QString& text) { return window().logText().contains("-> " + text); }
};

TEST_F(ShellEndToEndTest, ReadSaveCloseOpenAndWriteWithTheWorkerThread) {
    const k350sim::Bytes original = k350sim::plausibleConfiguration(1);
    k350sim::setEeprom(board_, 0, original);

    trigger("MButtonGet");
    QTRY_VERIFY_WITH_TIMEOUT(window().document().hasConfig(), kWaitMs);
    const auto& bytes = window().document().snapshot().bytes;
    EXPECT_TRUE(std::equal(original.begin(), original.end(), bytes.begin()));
    const k350sim::BoardOptions board;
    EXPECT_TRUE(
        std::equal(board.dieId.begin(), board.dieId.end(), bytes.begin() + ConfigOffset::DieId));

    const QString path = tempPath("board.kcf");
    dialogs_.saveAnswers.push_back(path);
    trigger("MButtonSaveAs");
    const auto saved = readFile(path);
    ASSERT_EQ(saved.size(), kSnapshotSize);

    trigger("MFileClose");
    EXPECT_FALSE(window().document().hasConfig());
    dialogs_.openAnswers.push_back(path);
    trigger("MButtonOpen");
    ASSERT_TRUE(window().document().hasConfig());
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), bytes.begin()));

    window().document().snapshot().bytes[ConfigOffset::Vocoder] ^= 0xFF;
    window().document().snapshot().bytes[ConfigOffset::Description] ^=
        0xFF;  // board information: not sent
    trigger("MButtonSet");
    QTRY_VERIFY_WITH_TIMEOUT(logged("Процесс загрузки конфигурации завершен"), kWaitMs);
    // The byte count is the worker's next report after the status line: wait for it too.
    QTRY_VERIFY_WITH_TIMEOUT(logged("Передано 56байт."), kWaitMs);
    const k350sim::Bytes eeprom = k350sim::eeprom(board_);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 56, eeprom.begin()));
    EXPECT_TRUE(std::equal(original.begin() + 56, original.end(), eeprom.begin() + 56));
}

// Under the C locale of many Linux systems, a board whose record was dated under Russian keeps
// its date through "Board Info" and a full write.
TEST_F(ShellEndToEndTest, BoardInfoEditUnderTheCLocaleKeepsTheBoardsDate) {
    ScopedDefaultLocale locale(QLocale::c());
    k350sim::Bytes record = k350sim::plausibleConfiguration(0);
    const std::string date = "15.03.2025";
    std::copy(date.begin(), date.end(), record.begin() + ConfigOffset::Date);
    k350sim::setEeprom(board_, 0, record);

    trigger("MButtonGet");
    QTRY_VERIFY_WITH_TIMEOUT(window().document().hasConfig(), kWaitMs);
    window().setServiceLevel(ServiceLevel::FullService);
    doubleClickNode("Board Info");
    auto* board = WindowRegistry::Find<TFBoard>(WindowId::FBoard);
    ASSERT_NE(board, nullptr);
    auto* serial = board->findChild<QLineEdit*>("sSerial");
    serial->selectAll();
    QTest::keyClicks(serial, "0815");
    QTest::mouseClick(board->findChild<QPushButton*>("OKButton"), Qt::LeftButton);

    trigger("MButtonSet");
    QTRY_VERIFY_WITH_TIMEOUT(logged("Процесс загрузки конфигурации завершен"), kWaitMs);
    // The byte count is the worker's next report after the status line: wait for it too.
    QTRY_VERIFY_WITH_TIMEOUT(logged("Передано 140байт."), kWaitMs);
    const k350sim::Bytes eeprom = k350sim::eeprom(board_);
    EXPECT_EQ(std::string(eeprom.begin() + 62, eeprom.begin() + 66), "0815");
    EXPECT_EQ(std::string(eeprom.begin() + 66, eeprom.begin() + 76), date);
}
