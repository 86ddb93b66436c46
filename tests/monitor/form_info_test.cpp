// The controller description: every field's form, read from a record the window never changes.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <array>
#include <cstring>

#include "config/ConfigImage.h"
#include "monitor/FormInfo.h"
#include "tests/support/WindowControls.h"
#include "ui/WindowRegistry.h"

namespace {

using Record = std::array<std::uint8_t, kSnapshotSize>;

// The window's blocks inside a bare record, as the document hands them over.
void load(TFInfo& info, const Record& record, std::uint16_t crc) {
    info.LoadSettings(std::span(record).subspan<ConfigOffset::BoardInfo, ConfigLength::BoardInfo>(),
                      std::span(record).subspan<ConfigOffset::DeviceIds, ConfigLength::DeviceIds>(),
                      crc, kSnapshotSize);
}

class InfoFormTest : public ::testing::Test {
protected:
    InfoFormTest() {
        record.fill(0);
        record[56] = 0;
        record[57] = 3;
        std::memcpy(&record[58], "1.2", 3);
        std::memcpy(&record[62], "0042", 4);
        std::memcpy(&record[66], "15.03.2024", 10);
        for (std::size_t i = 0; i < 16; ++i) record[140 + i] = std::uint8_t(0x10 * (i % 8) + i);
    }
    void open(std::uint16_t crc = 0xBEEF) {
        const auto before = record;
        load(info, record, crc);
        EXPECT_EQ(record, before);
    }
    QString value(const char* name) {
        auto* field = NamedControl<QLineEdit>(info, name);
        EXPECT_TRUE(field && field->isReadOnly() && !field->hasFrame()) << name;
        return field ? field->text() : QString();
    }
    QString description() { return info.findChild<QPlainTextEdit*>("sDescr")->toPlainText(); }

    std::array<std::uint8_t, kSnapshotSize> record{};
    TFInfo info;
};

TEST_F(InfoFormTest, ShowsEveryFieldInItsForm) {
    const std::uint8_t descr[] = {0xD1, 0xF2, 0xE5, 0xED, 0xE4, '\r', '\n', 'l', 'i', 'n', 'e'};
    std::memcpy(&record[76], descr, sizeof descr);
    open(0xBEEF);
    EXPECT_EQ(info.windowTitle(), "Описание контроллера");
    ExpectFixedSize(info, QSize(357, 331));
    EXPECT_EQ(WindowRegistry::Get(WindowId::FInfo), &info);
    EXPECT_EQ(value("sModel"), "K-350A");
    EXPECT_EQ(value("sBoard"), "Rev.D");
    EXPECT_EQ(value("sSoft"), "1.2");
    EXPECT_EQ(value("sSerial"), "0042");
    EXPECT_EQ(value("sData"), "15.03.2024");
    EXPECT_EQ(value("sDie"), "0x0011223344556677");
    EXPECT_EQ(value("sChip"), "0x08192A3B4C5D6E7F");
    EXPECT_EQ(value("sSize"), "156 bytes");
    EXPECT_EQ(value("sCrc"), "0xBEEF");
    EXPECT_EQ(description(), "Стенд\nline");
    EXPECT_TRUE(info.findChild<QPlainTextEdit*>("sDescr")->isReadOnly());
}

TEST_F(InfoFormTest, OddBytesShowAsTheyAreStored) {
    record[56] = 2;
    record[57] = 0xFF;
    std::memcpy(&record[66], "no date!!!", 10);
    std::memset(&record[76], 'z', 64);
    std::memset(&record[58], 'v', 4);  // full field, no zero
    open(0x00A1);
    EXPECT_EQ(value("sModel"), "K-350B");
    EXPECT_EQ(value("sBoard"), "Rev.@");
    EXPECT_EQ(value("sSoft"), "vvvv");
    EXPECT_EQ(value("sData"), "no date!!!");
    EXPECT_EQ(description(), QString(64, QChar('z')));
    EXPECT_EQ(value("sCrc"), "0x00A1");
}

TEST_F(InfoFormTest, RevisionLetterWrapsThroughTheCodePage) {
    record[57] = 0x80;  // 0xC1, Cyrillic Б
    open();
    EXPECT_EQ(value("sBoard"), "Rev.Б");
    TFInfo second;  // a zero letter (0xBF) shows nothing after "Rev."
    record[57] = 0xBF;
    load(second, record, 0);
    EXPECT_EQ(second.findChild<QLineEdit*>("sBoard")->text(), "Rev.");
}

TEST_F(InfoFormTest, CloseButtonClosesAndClearsTheReference) {
    open();
    info.show();
    QTest::mouseClick(info.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    EXPECT_TRUE(info.isClosing());
    EXPECT_EQ(WindowRegistry::Get(WindowId::FInfo), nullptr);
}

TEST(InfoFormKeyboardTest, EnterClosesItWhereverTheFocusIs) {
    std::array<std::uint8_t, kSnapshotSize> record{};
    for (const char* focused : {"sDescr", "sSerial", "OKButton"}) {
        TFInfo info;
        load(info, record, 0);
        info.show();
        auto* field = info.findChild<QWidget*>(focused);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(info.isClosing()) << focused;
    }
}

}  // namespace
