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
#include "tests/support/TestLocales.h"
#include "tests/support/WindowControls.h"
#include "ui/WindowRegistry.h"

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

BoardInfoBlock boardInfoOf(Record& record) {
    return std::span(record).subspan<ConfigOffset::BoardInfo, ConfigLength::BoardInfo>();
}

class BoardFormTest : public ::testing::TestWithParam<const char*> {
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
    void open() { board.LoadSettings(boardInfoOf(record)); }
    template <class T>
    T* control(const char* name) {
        return NamedControl<T>(board, name);
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
    ScopedDefaultLocale locale_{GetParam()};  // before the window, which takes its date format
    TFBoard board;
};

std::string LocaleName(const ::testing::TestParamInfo<const char*>& info) {
    return info.param;
}

INSTANTIATE_TEST_SUITE_P(Locales, BoardFormTest, ::testing::ValuesIn(kTestLocales), LocaleName);

TEST_P(BoardFormTest, ShowsTheStoredBoardInformation) {
    open();
    EXPECT_EQ(board.windowTitle(), "Контроллер ID");
    ExpectFixedSize(board, QSize(357, 331));
    EXPECT_EQ(WindowRegistry::Get(WindowId::FBoard), &board);
    EXPECT_EQ(control<QComboBox>("sModel")->currentText(), "K-350B");
    EXPECT_EQ(control<QComboBox>("sType")->currentText(), "C");
    EXPECT_EQ(control<QLineEdit>("sSoft")->text(), "123");
    EXPECT_EQ(control<QLineEdit>("sSerial")->text(), "3456");
    EXPECT_EQ(control<QDateEdit>("sData")->date(), QDate(2024, 3, 15));
    auto* picker = control<QDateEdit>("sData");
    EXPECT_TRUE(picker->displayFormat().contains("yyyy")) << picker->displayFormat().toStdString();
    EXPECT_EQ(picker->text(), QLocale().toString(QDate(2024, 3, 15), picker->displayFormat()));
    if (QLocale().language() == QLocale::Russian) {
        EXPECT_EQ(picker->text(), "15.03.2024");
    }
    EXPECT_EQ(control<QPlainTextEdit>("sDescr")->toPlainText(), "Первая\nSecond");
}

// A line's alphanumeric serial is text like any other: shown and stored as it is.
TEST_P(BoardFormTest, AnAlphanumericSerialIsShownAndKeptAsItIs) {
    putText(62, "A0Z9");
    original = record;
    open();
    board.show();
    EXPECT_EQ(control<QLineEdit>("sSerial")->text(), "A0Z9");
    pressOk();
    EXPECT_EQ(record, original);
}

TEST_P(BoardFormTest, OkWithoutEditingStoresTheSameInformation) {
    open();
    board.show();
    pressOk();
    EXPECT_TRUE(board.isClosing());
    EXPECT_EQ(record, original);
}

TEST_P(BoardFormTest, ShortTextGetsOneZeroAndLaterBytesKeepTheirValues) {
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

TEST_P(BoardFormTest, FullDescriptionFillsItsFieldAndNothingBeyond) {
    open();
    board.show();
    const QString full(64, QChar('x'));
    typeDescription(full + "yz");  // the keys past the limit are refused
    EXPECT_EQ(control<QPlainTextEdit>("sDescr")->toPlainText(), full);
    pressOk();
    for (std::size_t i = 76; i < 140; ++i) ASSERT_EQ(record[i], 'x') << i;
    expectUntouchedOutsideBoardInfo();
}

TEST_P(BoardFormTest, LineBreakIsStoredAsCrLfAndCountsTwice) {
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

TEST_P(BoardFormTest, CharactersWithoutAWindows1251FormAreStoredAsQuestionMarks) {
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

TEST_P(BoardFormTest, CloseBoxAfterEditingLeavesTheRecordUnchanged) {
    open();
    board.show();
    retype("sSoft", "99");
    typeDescription("changed");
    control<QComboBox>("sModel")->setCurrentIndex(0);
    board.close();
    EXPECT_EQ(record, original);
    EXPECT_EQ(WindowRegistry::Get(WindowId::FBoard), nullptr);
}

TEST_P(BoardFormTest, BytesOutsideTheListsSelectNothingAndOkKeepsThem) {
    record[56] = 5;
    record[57] = 0x80;
    open();
    EXPECT_EQ(control<QComboBox>("sModel")->currentIndex(), -1);
    EXPECT_TRUE(control<QComboBox>("sModel")->currentText().isEmpty());
    EXPECT_EQ(control<QComboBox>("sType")->currentIndex(), -1);
    board.show();
    pressOk();
    EXPECT_EQ(record[56], 5);
    EXPECT_EQ(record[57], 0x80);
}

// A typo cannot name a model the list does not offer; the keys choose among its items.
TEST_P(BoardFormTest, ListsOfferOnlyTheirItems) {
    open();
    board.show();
    for (const char* name : {"sModel", "sType"}) {
        auto* list = control<QComboBox>(name);
        EXPECT_FALSE(list->isEditable()) << name;
        list->setFocus();
        typeText(list, "K-350C");
    }
    QTest::keyClick(control<QComboBox>("sModel"), Qt::Key_Up);
    pressOk();
    EXPECT_EQ(record[56], 0);  // from K-350B up to K-350A
    EXPECT_EQ(record[57], 2);
}

TEST_P(BoardFormTest, UnparsableDateShowsTodayAndOkStoresIt) {
    putText(66, "31.02.2024");
    open();
    EXPECT_EQ(control<QDateEdit>("sData")->date(), QDate::currentDate());
    board.show();
    pressOk();
    const QByteArray today = QDate::currentDate().toString("dd.MM.yyyy").toLatin1();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&record[66]), 10), today);
}

TEST_P(BoardFormTest, DateIsReadAndStoredAsDayMonthYearWhateverTheLocale) {
    putText(66, "1.2.2024");
    record[74] = 0;
    original = record;
    open();
    auto* picker = control<QDateEdit>("sData");
    EXPECT_EQ(picker->date(), QDate(2024, 2, 1));
    board.show();
    retype("sSerial", "7777");
    pressOk();
    // Left as it was, the date keeps its stored form; only the serial number changed.
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&record[66]), 9), QByteArray("1.2.2024", 9));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&record[62]), 4), "7777");

    TFBoard again;
    again.LoadSettings(boardInfoOf(record));
    again.show();
    auto* secondPicker = again.findChild<QDateEdit*>("sData");
    secondPicker->setFocus();
    QTest::keyClick(secondPicker, Qt::Key_Up);  // steps the section under the cursor
    ASSERT_NE(secondPicker->date(), QDate(2024, 2, 1));
    const QDate picked = secondPicker->date();
    QTest::mouseClick(again.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&record[66]), 10),
              picked.toString("dd.MM.yyyy").toLatin1());
}

TEST_P(BoardFormTest, UneditedFieldsGoBackByteForByte) {
    put(58, {'1', 0xA0, '2', 0});
    // Lone LF, lone CR, CR LF, a no-break space, a TAB and 0x98, which has no character.
    put(76, {'a', 0x0A, 'b', 0x0D, 'c', 0x0D, 0x0A, 'd', 0xA0, 'e', 0x09, 0x98, 0});
    original = record;
    open();
    board.show();
    retype("sSerial", "9999");
    pressOk();
    EXPECT_TRUE(std::equal(record.begin() + 58, record.begin() + 62, original.begin() + 58));
    EXPECT_TRUE(std::equal(record.begin() + 66, record.end(), original.begin() + 66));
}

TEST_P(BoardFormTest, LoadedDescriptionCountsItsStoredBytesAndKeepsItsBreaksThroughAnEdit) {
    // 64 bytes: four lines of 15 characters, each ended by a lone LF.
    for (std::size_t line = 0; line < 4; ++line) {
        for (std::size_t i = 0; i < 15; ++i) record[76 + line * 16 + i] = std::uint8_t('a' + line);
        record[76 + line * 16 + 15] = 0x0A;
    }
    original = record;
    open();
    board.show();
    auto* edit = control<QPlainTextEdit>("sDescr");
    edit->setFocus();
    edit->moveCursor(QTextCursor::End);
    QTest::keyClick(edit, Qt::Key_Backspace);  // the last lone LF
    typeText(edit, "xy");                      // one byte is free: x fits, y does not
    EXPECT_TRUE(edit->toPlainText().endsWith("dddx"));
    pressOk();
    for (std::size_t line = 0; line < 3; ++line) EXPECT_EQ(record[76 + line * 16 + 15], 0x0A);
    EXPECT_EQ(record[139], 'x');
    expectUntouchedOutsideBoardInfo();
}

TEST_P(BoardFormTest, TabLeavesTheDescriptionAndEnterInAOneLineFieldActsAsOk) {
    open();
    board.show();
    board.activateWindow();
    auto* edit = control<QPlainTextEdit>("sDescr");
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_FALSE(edit->hasFocus());
    EXPECT_FALSE(edit->toPlainText().contains('\t'));

    QTest::keyClick(edit, Qt::Key_Return);  // a new line, not "OK"
    EXPECT_FALSE(board.isClosing());

    retype("sSerial", "4321");
    QTest::keyClick(control<QLineEdit>("sSerial"), Qt::Key_Return);
    EXPECT_TRUE(board.isClosing());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&record[62]), 4), "4321");
}

TEST_P(BoardFormTest, EnterInTheListsAndThePickerActsAsOk) {
    for (const char* name : {"sModel", "sType", "sData", "sSoft"}) {
        TFBoard window;
        window.LoadSettings(boardInfoOf(record));
        window.show();
        auto* field = window.findChild<QWidget*>(name);
        field->setFocus();
        QTest::keyClick(field->focusProxy() ? field->focusProxy() : field, Qt::Key_Return);
        EXPECT_TRUE(window.isClosing()) << name;
    }
}

}  // namespace
