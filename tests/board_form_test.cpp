// The board information editor as a service engineer uses it: what it shows of a record, what
// "OK" stores (Windows-1251, text-field rule, never outside bytes 56..139), and that the close box
// stores nothing.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <array>
#include <cstring>

#include "config/ConfigImage.h"
#include "monitor/BoardForm.h"
#include "shell/WindowRegistry.h"

namespace {

// Types text as a keyboard would, including letters that have no key of their own in QTest.
void typeText(QWidget* widget, const QString& text) {
    for (char32_t c : text.toUcs4()) {
        const QString key = QString::fromUcs4(&c, 1);
        if (key == "\n")
            QTest::keyClick(widget, Qt::Key_Return);
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, key, Qt::NoModifier);
    }
}

using Record = std::array<std::uint8_t, kSnapshotSize>;

class BoardFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        record.fill(0xA5);
        put(56, {1, 2});
        put(58, {'1', '2', '3', 0});
        put(62, {'3', '4', '5', '6'});
        putText(66, "15.03.2024");
        put(76, {0xCF, 0xE5, 0xF0, 0xE2, 0xE0, 0xFF});  // "Первая" in Windows-1251
        putText(82, "\r\nSecond");
        record[90] = 0;
        original = record;
    }
    void put(std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), record.begin() + std::ptrdiff_t(offset));
    }
    void putText(std::size_t offset, const char* ascii) {
        std::memcpy(&record[offset], ascii, std::strlen(ascii));
    }
    void open() { board.LoadSettings(record.data() + 56); }
    template <class T>
    T* control(const char* name) {
        auto* found = board.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void retype(const char* name, const QString& text) {
        auto* edit = control<QLineEdit>(name);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        typeText(edit, text);
    }
    void typeDescription(const QString& text) {
        auto* edit = control<QPlainTextEdit>("sDescr");
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        typeText(edit, text);
    }
    void pressOk() { QTest::mouseClick(control<QPushButton>("OKButton"), Qt::LeftButton); }
    void expectUntouchedOutsideBoardInfo() {
        EXPECT_TRUE(std::equal(record.begin(), record.begin() + 56, original.begin()));
        EXPECT_TRUE(std::equal(record.begin() + 140, record.end(), original.begin() + 140));
    }

    Record record{}, original{};
    TFBoard board;
};

TEST_F(BoardFormTest, ShowsTheStoredBoardInformation) {
    open();
    EXPECT_EQ(board.windowTitle(), "Контроллер ID");
    // The stated client size, grown where the captions need room, and fixed.
    EXPECT_EQ(board.size().expandedTo(QSize(357, 331)), board.size());
    EXPECT_EQ(board.minimumSize(), board.maximumSize());
    EXPECT_EQ(WindowRegistry::get(WindowId::FBoard), &board);
    EXPECT_EQ(control<QComboBox>("sModel")->currentText(), "K-350B");
    EXPECT_EQ(control<QComboBox>("sType")->currentText(), "C");
    EXPECT_EQ(control<QLineEdit>("sSoft")->text(), "123");
    EXPECT_EQ(control<QLineEdit>("sSerial")->text(), "3456");
    EXPECT_EQ(control<QDateEdit>("sData")->date(), QDate(2024, 3, 15));
    EXPECT_EQ(control<QDateEdit>("sData")->text(), "15.03.2024");
    EXPECT_EQ(control<QPlainTextEdit>("sDescr")->toPlainText(), "Первая\nSecond");
}

TEST_F(BoardFormTest, OkWithoutEditingStoresTheSameInformation) {
    open();
    board.show();
    pressOk();
    EXPECT_TRUE(board.isClosing());
    EXPECT_EQ(record, original);
}

TEST_F(BoardFormTest, ShortTextGetsOneZeroAndLaterBytesKeepTheirValues) {
    open();
    board.show();
    retype("sSoft", "12");
    retype("sSerial", "12345");  // the field takes four characters
    pressOk();
    EXPECT_EQ(record[58], 0x31);
    EXPECT_EQ(record[59], 0x32);
    EXPECT_EQ(record[60], 0x00);
    EXPECT_EQ(record[61], original[61]);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&record[62]), 4), "1234");
    expectUntouchedOutsideBoardInfo();
}

TEST_F(BoardFormTest, FullDescriptionFillsItsFieldAndNothingBeyond) {
    open();
    board.show();
    const QString full(64, QChar('x'));
    typeDescription(full + "yz");  // the keys past the limit are refused
    EXPECT_EQ(control<QPlainTextEdit>("sDescr")->toPlainText(), full);
    pressOk();
    for (std::size_t i = 76; i < 140; ++i) ASSERT_EQ(record[i], 'x') << i;
    expectUntouchedOutsideBoardInfo();
}

TEST_F(BoardFormTest, LineBreakIsStoredAsCrLfAndCountsTwice) {
    open();
    board.show();
    typeDescription(QString(31, QChar('a')) + "\n" + QString(31, QChar('b')) + "c");
    EXPECT_EQ(control<QPlainTextEdit>("sDescr")->toPlainText(),
              QString(31, QChar('a')) + "\n" + QString(31, QChar('b')));
    pressOk();
    EXPECT_EQ(record[76 + 31], 0x0D);
    EXPECT_EQ(record[76 + 32], 0x0A);
    EXPECT_EQ(record[139], 'b');
    expectUntouchedOutsideBoardInfo();
}

TEST_F(BoardFormTest, CharactersWithoutAWindows1251FormAreStoredAsQuestionMarks) {
    open();
    board.show();
    retype("sSerial", QStringLiteral("€ü中x"));
    typeDescription(QStringLiteral("Жук😀"));
    pressOk();
    const std::uint8_t serial[] = {0x88, '?', '?', 'x'};
    EXPECT_TRUE(std::equal(serial, serial + 4, &record[62]));
    const std::uint8_t description[] = {0xC6, 0xF3, 0xEA, '?', 0x00};
    EXPECT_TRUE(std::equal(description, description + 5, &record[76]));
    EXPECT_EQ(record[81], original[81]);
}

TEST_F(BoardFormTest, CloseBoxAfterEditingLeavesTheRecordUnchanged) {
    open();
    board.show();
    retype("sSoft", "99");
    typeDescription("changed");
    control<QComboBox>("sModel")->setCurrentIndex(0);
    board.close();
    EXPECT_EQ(record, original);
    EXPECT_EQ(WindowRegistry::get(WindowId::FBoard), nullptr);
}

TEST_F(BoardFormTest, BytesOutsideTheListsSelectNothingAndOkStoresFF) {
    record[56] = 5;
    record[57] = 0xFF;
    open();
    EXPECT_EQ(control<QComboBox>("sModel")->currentIndex(), -1);
    EXPECT_TRUE(control<QComboBox>("sModel")->currentText().isEmpty());
    EXPECT_EQ(control<QComboBox>("sType")->currentIndex(), -1);
    board.show();
    pressOk();
    EXPECT_EQ(record[56], 0xFF);
    EXPECT_EQ(record[57], 0xFF);
}

TEST_F(BoardFormTest, UnparsableDateShowsTodayAndOkStoresIt) {
    putText(66, "31.02.2024");
    open();
    EXPECT_EQ(control<QDateEdit>("sData")->date(), QDate::currentDate());
    board.show();
    pressOk();
    const QByteArray today = QDate::currentDate().toString("dd.MM.yyyy").toLatin1();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&record[66]), 10), today);
}

}  // namespace
