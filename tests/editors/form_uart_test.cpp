// The UART window on a block of the record: what it shows, the codes it rewrites on opening,
// "Default", and the rules of the selectors (disabled for the user, enabled here to reach them).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <array>

#include "editors/FormUart.h"
#include "tests/support/FakeDialogs.h"
#include "tests/support/WindowControls.h"
#include "ui/WindowRegistry.h"

namespace {

// Record offsets 42..55 as block indexes.
constexpr int kLevels = 1, kLow = 5, kHigh = 7, kFormat = 13;

class UartFormTest : public ::testing::Test {
protected:
    UartFormTest() {
        block.fill(0x5A);
        block[kLevels] = 0x3C;  // rx code 3, tx code 12
        setDivisor(120);
        block[kFormat] = 0xC0 | 0x18 | 0x03;  // bits 7-6 set, Odd, 8 data bits, 1 stop bit
    }
    void setDivisor(int divisor) {
        block[kLow] = std::uint8_t(divisor & 0xFF);
        block[kHigh] = std::uint8_t(divisor >> 8);
    }
    void open() { uart.LoadSettings(block); }
    template <class T>
    T* control(const char* name) {
        return NamedControl<T>(uart, name);
    }
    QString shown(const char* name) {
        if (auto* selector = uart.findChild<QComboBox*>(name)) return selector->currentText();
        return control<QLabel>(name)->text();
    }
    void click(const char* name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    void enableSelectors() { control<QGroupBox>("GroupUartSettings")->setEnabled(true); }
    // Keys go to the drop-down list, which hands them to its edit, as with keyboard focus.
    void typeRate(const QString& text) {
        auto* rate = control<QComboBox>("Rate");
        rate->lineEdit()->selectAll();
        QTest::keyClicks(rate, text);
        QTest::keyClick(rate, Qt::Key_Return);
    }

    std::array<std::uint8_t, 14> block{};
    FakeDialogs dialogs;
    TFUart uart;
};

TEST_F(UartFormTest, ShowsTheBlockWithEverySettingDisabled) {
    open();
    const auto before = block;
    EXPECT_EQ(uart.windowTitle(), "Uart");
    ExpectFixedSize(uart, QSize(357, 320));
    EXPECT_EQ(WindowRegistry::Get(WindowId::FUart), &uart);
    EXPECT_EQ(shown("Rate"), "9600");
    EXPECT_EQ(shown("Data"), "8");
    EXPECT_EQ(shown("Stop"), "1");
    EXPECT_EQ(shown("Parity"), "Odd");
    EXPECT_EQ(control<QSlider>("TLR_RX")->value(), 12);
    EXPECT_EQ(control<QSlider>("TLR_TX")->value(), 3);
    EXPECT_EQ(shown("RxLevel"), "12");
    EXPECT_EQ(shown("TxLevel"), "48");
    EXPECT_EQ(block, before);  // codes 1..15 stay as they are
    for (const char* name : {"Rate", "Data", "Stop", "Parity", "TLR_RX", "TLR_TX"})
        EXPECT_FALSE(uart.findChild<QWidget*>(name)->isEnabled()) << name;
    for (const char* name : {"Cancel", "Ok", "Default"})
        EXPECT_TRUE(control<QPushButton>(name)->isEnabled()) << name;
}

TEST_F(UartFormTest, FreshWindowShowsItsCaptionsAndInitialValues) {
    const std::pair<const char*, const char*> captions[] = {{"StaticTextRate", "Baud rate"},
                                                            {"StaticTextData", "Data bits"},
                                                            {"StaticTextStop", "Stop bits"},
                                                            {"StaticTextParity", "Parity"},
                                                            {"StaticTextUartRx", "Rx Level"},
                                                            {"StaticTextUartTx", "Tx Level"},
                                                            {"RxLevel", "0"},
                                                            {"TxLevel", "0"}};
    for (auto [name, text] : captions) EXPECT_EQ(control<QLabel>(name)->text(), text) << name;
    EXPECT_EQ(control<QGroupBox>("GroupUartSettings")->title(), "Uart Settings");
    EXPECT_EQ(control<QGroupBox>("GroupUartFifo")->title(), "Buffers Settings");
    EXPECT_EQ(control<QGroupBox>("GroupUartFifo")->toolTip(), "Rx Fifo | Set Rx Fifo Size");
    EXPECT_EQ(shown("Rate"), "9600");
    EXPECT_EQ(shown("Data"), "8");
    EXPECT_EQ(shown("Stop"), "1");
    EXPECT_EQ(control<QComboBox>("Parity")->currentIndex(), 0);
    EXPECT_TRUE(control<QComboBox>("Rate")->isEditable());
    EXPECT_EQ(control<QComboBox>("Rate")->count(), 15);
    EXPECT_EQ(control<QComboBox>("Stop")->itemText(1), "1.5");
    EXPECT_EQ(control<QComboBox>("Parity")->itemText(4), "Space");
    for (const char* name : {"TLR_RX", "TLR_TX"}) {
        auto* bar = control<QSlider>(name);
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 14);
        EXPECT_EQ(bar->value(), 1) << name;
        EXPECT_TRUE(bar->invertedAppearance()) << name << ": position 0 at the top";
        EXPECT_EQ(bar->tickPosition(), QSlider::TicksBothSides);
        EXPECT_EQ(bar->tickInterval(), 1);
    }
    int left = -1;
    for (auto [name, caption] :
         {std::pair{"Cancel", "Cancel"}, {"Ok", "OK"}, {"Default", "Default"}}) {
        auto* button = control<QPushButton>(name);
        EXPECT_EQ(button->text(), caption);
        EXPECT_GT(button->x(), left) << name << " left to right";
        left = button->x();
    }
}

TEST_F(UartFormTest, RateShownIsTheOneTheDivisorGives) {
    const std::pair<int, const char*> cases[] = {
        {20, "57600"}, {4, "288000"}, {10472, "110"}, {9, "128000"}, {0, "Error"}};
    for (auto [divisor, rate] : cases) {
        setDivisor(divisor);
        TFUart window;
        window.LoadSettings(block);
        EXPECT_EQ(window.findChild<QComboBox*>("Rate")->currentText(), rate) << divisor;
        EXPECT_EQ(block[kLow], std::uint8_t(divisor & 0xFF));
    }
}

TEST_F(UartFormTest, StopBitsAndParityReadTheirFields) {
    const std::tuple<std::uint8_t, const char*, const char*, const char*> cases[] = {
        {0x04, "5", "1.5", "None"}, {0x05, "6", "2", "None"},  {0x07 | 0x08, "8", "2", "Even"},
        {0x28, "5", "1", "Mark"},   {0x38, "5", "1", "Space"}, {0x10, "5", "1", "None"},
        {0x20, "5", "1", "None"},   {0x30, "5", "1", "None"}};
    for (auto [format, data, stop, parity] : cases) {
        block[kFormat] = format;
        TFUart window;
        window.LoadSettings(block);
        EXPECT_EQ(window.findChild<QComboBox*>("Data")->currentText(), data) << int(format);
        EXPECT_EQ(window.findChild<QComboBox*>("Stop")->currentText(), stop) << int(format);
        EXPECT_EQ(window.findChild<QComboBox*>("Parity")->currentText(), parity) << int(format);
        EXPECT_EQ(block[kFormat], format);  // opening never changes the format byte
    }
}

TEST_F(UartFormTest, TriggerCodeZeroOpensAsFourCharactersAndIsRewrittenAsOne) {
    block[kLevels] = 0x00;
    open();
    EXPECT_EQ(shown("RxLevel"), "4");
    EXPECT_EQ(shown("TxLevel"), "4");
    EXPECT_EQ(control<QSlider>("TLR_RX")->value(), 14);
    EXPECT_EQ(block[kLevels], 0x11);
}

TEST_F(UartFormTest, DefaultResetsTheBlockAndCancelDoesNotUndoIt) {
    block[kLevels] = 0x00;
    setDivisor(0);
    block[kFormat] = 0x80 | 0x3F;
    auto before = block;
    open();
    uart.show();
    click("Default");
    EXPECT_EQ(block[kLevels], 0xFF);
    EXPECT_EQ(block[kLow], 0x78);
    EXPECT_EQ(block[kHigh], 0x00);
    EXPECT_EQ(block[kFormat], 0x83);
    for (int i : {0, 2, 3, 4, 6, 8, 9, 10, 11, 12}) EXPECT_EQ(block[i], before[i]) << i;
    EXPECT_EQ(shown("Rate"), "9600");
    EXPECT_EQ(shown("Data"), "8");
    EXPECT_EQ(shown("Stop"), "1");
    EXPECT_EQ(shown("Parity"), "None");
    EXPECT_EQ(shown("RxLevel"), "60");
    EXPECT_EQ(shown("TxLevel"), "60");

    before = block;
    click("Cancel");
    EXPECT_TRUE(uart.isClosing());
    EXPECT_EQ(block, before);
    EXPECT_EQ(WindowRegistry::Get(WindowId::FUart), nullptr);
}

TEST_F(UartFormTest, TypedRateStoresItsDivisor) {
    open();
    uart.show();
    enableSelectors();
    typeRate("56000");
    EXPECT_EQ(block[kLow], 20);
    EXPECT_EQ(block[kHigh], 0);
    typeRate("110");
    EXPECT_EQ(block[kLow] | (block[kHigh] << 8), 10472);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(UartFormTest, RateTheDivisorCannotHoldIsRefusedWithAMessage) {
    open();
    uart.show();
    enableSelectors();
    for (const char* rate : {"abc", "0", "12.5", "17", "2000000", "99999999999"}) {
        dialogs.messages.clear();
        typeRate(rate);
        ASSERT_EQ(dialogs.messages.size(), 1) << rate;
        EXPECT_TRUE(dialogs.messages[0].startsWith(QString("\"%1\"").arg(rate)));
        EXPECT_EQ(block[kLow], 120) << rate;
        EXPECT_EQ(block[kHigh], 0) << rate;
    }
}

TEST_F(UartFormTest, FocusPassingThroughTheRateRewritesNothing) {
    for (int divisor : {60000, 65535, 0}) {  // shown as 19, 17 and "Error"
        setDivisor(divisor);
        const auto before = block;
        TFUart window;
        window.LoadSettings(block);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        window.findChild<QGroupBox*>("GroupUartSettings")->setEnabled(true);
        auto* rate = window.findChild<QComboBox*>("Rate");
        rate->setFocus();
        ASSERT_TRUE(rate->hasFocus());
        QTest::keyClick(rate, Qt::Key_Tab);
        EXPECT_FALSE(rate->hasFocus()) << divisor;
        rate->setFocus();
        window.findChild<QComboBox*>("Data")->setFocus();  // leaving by another way
        EXPECT_EQ(block, before) << divisor;
        EXPECT_TRUE(dialogs.messages.isEmpty()) << divisor;
    }
}

TEST_F(UartFormTest, PickedFormatItemsChangeOnlyTheirBits) {
    block[kFormat] = 0xC0;
    open();
    uart.show();
    enableSelectors();
    auto pick = [&](const char* name, int index) {
        auto* selector = control<QComboBox>(name);
        selector->setCurrentIndex(index);
        emit selector->activated(index);
    };
    pick("Data", 2);    // 7 data bits
    pick("Stop", 1);    // 1.5
    pick("Parity", 4);  // Space
    EXPECT_EQ(block[kFormat], 0xC0 | 0x38 | 0x04 | 0x02);
    pick("Parity", 0);
    pick("Stop", 0);
    EXPECT_EQ(block[kFormat], 0xC2);
}

}  // namespace
