#include "editors/FormUart.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <utility>

#include "config/RecordRules.h"
#include "editors/GainBar.h"
#include "ui/Buttons.h"
#include "ui/Dialogs.h"
#include "ui/FixedLayout.h"

using namespace RecordRules;

namespace {
void setTextQuietly(QComboBox* selector, const QString& text) {
    QSignalBlocker blocker(selector);
    selector->setCurrentText(text);
}
}  // namespace

TFUart::TFUart(QWidget* parent) : TaskWindow(WindowId::FUart, parent) {
    setWindowTitle(QStringLiteral("Uart"));
    buildSettingsGroup();
    buildFifoGroup();
    buildButtons();
    FitFixedLayout(this, {357, 320},
                   {{RxLevel, QStringLiteral("60")}, {TxLevel, QStringLiteral("60")}});
}

QLabel* TFUart::addLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

QComboBox* TFUart::addSelector(const char* labelName, const QString& caption, const char* name,
                               const QStringList& items, int row) {
    const int y = 28 + row * 32;
    auto* label = addLabel(GroupUartSettings, labelName, caption, QRect(10, y, 80, 21));
    auto* selector = new QComboBox(GroupUartSettings);
    selector->setObjectName(name);
    selector->setAccessibleName(caption);
    selector->addItems(items);
    selector->setGeometry(96, y, 90, 21);
    label->setBuddy(selector);
    return selector;
}

void TFUart::buildSettingsGroup() {
    GroupUartSettings = new QGroupBox(QStringLiteral("Uart Settings"), this);
    GroupUartSettings->setObjectName("GroupUartSettings");
    GroupUartSettings->setGeometry(8, 8, 200, 160);
    GroupUartSettings->setEnabled(false);

    Rate = addSelector("StaticTextRate", QStringLiteral("Baud rate"), "Rate",
                       {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                        "38400", "56000", "57600", "115200", "128000", "256000"},
                       0);
    Rate->setEditable(true);
    Rate->setInsertPolicy(QComboBox::NoInsert);
    Rate->setCurrentText(QStringLiteral("9600"));
    Data =
        addSelector("StaticTextData", QStringLiteral("Data bits"), "Data", {"5", "6", "7", "8"}, 1);
    Data->setCurrentText(QStringLiteral("8"));
    Stop = addSelector("StaticTextStop", QStringLiteral("Stop bits"), "Stop", {"1", "1.5", "2"}, 2);
    QStringList parities;
    for (const char* name : kParityNames) parities << QString::fromLatin1(name);
    Parity = addSelector("StaticTextParity", QStringLiteral("Parity"), "Parity", parities, 3);

    // Enter in the edit also activates the current item while the text is still the typed one:
    // only a real pick from the list counts here, typed text is handled when editing ends. Focus
    // passing through the field is no edit: the rate shown need not give back the stored divisor.
    connect(Rate, &QComboBox::activated, this, [this](int index) {
        if (Rate->currentText() != Rate->itemText(index)) return;
        rateTyped_ = false;
        RateChange();
    });
    connect(Rate->lineEdit(), &QLineEdit::textEdited, this, [this] { rateTyped_ = true; });
    connect(Rate->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (!std::exchange(rateTyped_, false)) return;
        RateChange();
    });
    connect(Data, &QComboBox::activated, this, &TFUart::DataChange);
    connect(Stop, &QComboBox::activated, this, &TFUart::StopChange);
    connect(Parity, &QComboBox::activated, this, &TFUart::ParityChange);
}

QSlider* TFUart::addLevelBar(const char* name, int x) {
    auto* bar = new QSlider(Qt::Vertical, GroupUartFifo);
    bar->setObjectName(name);
    bar->setRange(0, kLastTriggerPosition);
    MakeTopDownBar(bar);  // position 0 at the top: the highest level
    bar->setTickPosition(QSlider::TicksBothSides);
    bar->setTickInterval(1);
    bar->setPageStep(1);
    bar->setValue(1);
    bar->setGeometry(x, 44, 40, 200);
    return bar;
}

void TFUart::buildFifoGroup() {
    GroupUartFifo = new QGroupBox(QStringLiteral("Buffers Settings"), this);
    GroupUartFifo->setObjectName("GroupUartFifo");
    GroupUartFifo->setToolTip(QStringLiteral("Rx Fifo | Set Rx Fifo Size"));
    GroupUartFifo->setGeometry(216, 8, 133, 270);
    GroupUartFifo->setEnabled(false);

    addLabel(GroupUartFifo, "StaticTextUartRx", QStringLiteral("Rx Level"), QRect(8, 22, 56, 18));
    addLabel(GroupUartFifo, "StaticTextUartTx", QStringLiteral("Tx Level"), QRect(70, 22, 56, 18));
    RxLevel = addLabel(GroupUartFifo, "RxLevel", QStringLiteral("0"), QRect(8, 248, 40, 14));
    TxLevel = addLabel(GroupUartFifo, "TxLevel", QStringLiteral("0"), QRect(70, 248, 40, 14));
    RxLevel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    TxLevel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    TLR_RX = addLevelBar("TLR_RX", 16);
    TLR_TX = addLevelBar("TLR_TX", 78);
    TLR_RX->setAccessibleName(QStringLiteral("Rx Level"));
    TLR_TX->setAccessibleName(QStringLiteral("Tx Level"));
    connect(TLR_RX, &QSlider::valueChanged, this, &TFUart::TLR_RXChange);
    connect(TLR_TX, &QSlider::valueChanged, this, &TFUart::TLR_TXChange);
}

void TFUart::buildButtons() {
    const std::tuple<const char*, QString, int, void (TFUart::*)()> buttons[] = {
        {"Cancel", QStringLiteral("Cancel"), 40, &TFUart::closeWindow},
        {"Ok", QStringLiteral("OK"), 141, &TFUart::closeWindow},
        {"Default", QStringLiteral("Default"), 242, &TFUart::DefaultClick}};
    for (const auto& [name, caption, x, handler] : buttons) {
        QPushButton* button = MakeButton(caption, name, this);
        button->setGeometry(x, 287, 75, 25);
        connect(button, &QPushButton::clicked, this, handler);
    }
}

void TFUart::LoadSettings(UartBlock block) {
    block_ = block;
    setBarAndApply(TLR_RX, TriggerPosition(RxTriggerCode(block[UartByte::Levels])),
                   &TFUart::TLR_RXChange);
    setBarAndApply(TLR_TX, TriggerPosition(TxTriggerCode(block[UartByte::Levels])),
                   &TFUart::TLR_TXChange);
    showRate();
    showFormat();
}

// Sets a bar and applies its level rule even when the position did not change, so a stored
// code the bar cannot show (0) is rewritten as the one it shows.
void TFUart::setBarAndApply(QSlider* bar, int position, void (TFUart::*rule)()) {
    {
        QSignalBlocker blocker(bar);
        bar->setValue(position);
    }
    (this->*rule)();
}

void TFUart::showRate() {
    const auto rate = RateOfDivisor(UartDivisor(block_->data()));
    setTextQuietly(Rate, rate ? QString::number(*rate) : QStringLiteral("Error"));
}

void TFUart::showFormat() {
    const std::uint8_t format = (*block_)[UartByte::Format];
    setTextQuietly(Data, QString::number(DataBits(format)));
    setTextQuietly(Stop, QString::fromLatin1(StopBitsText(format)));
    QSignalBlocker blocker(Parity);
    Parity->setCurrentIndex(ParityItem(format));
}

void TFUart::applyLevel(QSlider* bar, QLabel* value, bool receive) {
    const int code = TriggerCode(bar->value());
    value->setText(QString::number(TriggerCharacters(code)));
    if (!block_) return;
    std::uint8_t& levels = (*block_)[UartByte::Levels];
    levels = receive ? WithRxTriggerCode(levels, code) : WithTxTriggerCode(levels, code);
}

void TFUart::TLR_RXChange() {
    applyLevel(TLR_RX, RxLevel, true);
}

void TFUart::TLR_TXChange() {
    applyLevel(TLR_TX, TxLevel, false);
}

// A rate the 16-bit divisor cannot express (0, or outside 18..1152000) is refused: storing it
// would leave the board with a divisor of 0 or one cut to 16 bits.
void TFUart::RateChange() {
    if (!block_) return;
    bool isNumber = false;
    const std::uint32_t rate = Rate->currentText().trimmed().toUInt(&isNumber);
    const auto divisor = isNumber ? DivisorOfRate(rate) : std::nullopt;
    if (!divisor) {
        AppDialogs().message(this, QStringLiteral("\"%1\" - недопустимая скорость обмена. "
                                                  "Введите целое число от %2 до %3.")
                                       .arg(Rate->currentText())
                                       .arg(kLowestRate)
                                       .arg(kHighestRate));
        return;
    }
    storeDivisor(*divisor);
}

void TFUart::storeDivisor(std::uint16_t divisor) {
    StoreUartDivisor(block_->data(), divisor);
}

void TFUart::setFormatBits(std::uint8_t mask, std::uint8_t bits) {
    if (!block_) return;
    std::uint8_t& format = (*block_)[UartByte::Format];
    format = std::uint8_t((format & ~mask) | (bits & mask));
}

void TFUart::DataChange() {
    const int bits = Data->currentText().toInt();
    if (bits >= 5 && bits <= 8) setFormatBits(kDataBitsField, WithDataBits(0, bits));
}

void TFUart::StopChange() {
    setFormatBits(kStopBit, Stop->currentText() == QLatin1String("1") ? 0 : kStopBit);
}

void TFUart::ParityChange() {
    setFormatBits(kParityField, ParityCode(std::max(0, Parity->currentIndex())));
}

void TFUart::DefaultClick() {
    setTextQuietly(Rate, QStringLiteral("9600"));
    if (block_) storeDivisor(kDefaultDivisor);
    setTextQuietly(Data, QStringLiteral("8"));
    setFormatBits(kDataBitsField, WithDataBits(0, 8));
    setTextQuietly(Stop, QStringLiteral("1"));
    setFormatBits(kStopBit, 0);
    setTextQuietly(Parity, QStringLiteral("None"));
    setFormatBits(kParityField, ParityCode(0));
    setBarAndApply(TLR_RX, 0, &TFUart::TLR_RXChange);
    setBarAndApply(TLR_TX, 0, &TFUart::TLR_TXChange);
}
