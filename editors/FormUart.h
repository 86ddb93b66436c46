// TFUart: shows the UART block of the record (baud rate, data bits, stop bits, parity, FIFO
// trigger levels) and resets it to its defaults. It works on the record in place, without undo.
#pragma once

#include <cstdint>
#include <optional>

#include "config/ConfigImage.h"
#include "ui/TaskWindow.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;

class TFUart : public TaskWindow {
    Q_OBJECT
public:
    explicit TFUart(QWidget* parent = nullptr);

    // block: the UART block of the main window's configuration, valid while this window is open.
    void LoadSettings(UartBlock block);

    // The rules a change of a selector or a bar applies to the block.
    void RateChange();
    void DataChange();
    void StopChange();
    void ParityChange();
    void TLR_RXChange();
    void TLR_TXChange();
    void DefaultClick();

private:
    void buildSettingsGroup();
    void buildFifoGroup();
    void buildButtons();
    QComboBox* addSelector(const char* labelName, const QString& caption, const char* name,
                           const QStringList& items, int row);
    QSlider* addLevelBar(const char* name, int x);
    QLabel* addLabel(QWidget* parent, const char* name, const QString& text, QRect geometry);
    void applyLevel(QSlider* bar, QLabel* value, bool receive);
    void setBarAndApply(QSlider* bar, int position, void (TFUart::*rule)());
    void showRate();
    void showFormat();
    void storeDivisor(std::uint16_t divisor);
    void setFormatBits(std::uint8_t mask, std::uint8_t bits);

    std::optional<UartBlock> block_;
    bool rateTyped_ = false;  // the rate text was edited since the rule last ran

    QGroupBox* GroupUartSettings = nullptr;
    QComboBox* Rate = nullptr;
    QComboBox* Data = nullptr;
    QComboBox* Stop = nullptr;
    QComboBox* Parity = nullptr;
    QGroupBox* GroupUartFifo = nullptr;
    QLabel* RxLevel = nullptr;
    QLabel* TxLevel = nullptr;
    QSlider* TLR_RX = nullptr;
    QSlider* TLR_TX = nullptr;
};
