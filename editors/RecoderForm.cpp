#include "editors/RecoderForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSlider>
#include <QVBoxLayout>
#include <tuple>

#include "editors/SettingsConversions.h"

using namespace RecordRules;
using namespace SettingsRules;

namespace {
constexpr std::uint16_t kDefaultFlags = kMicFlag | kRxFlag | kPttButFlag;
constexpr int kGainDefault = 12, kRxLevelDefault = 27;
}  // namespace

TFRecoder::TFRecoder(QWidget* parent)
    : SettingsForm(WindowId::FRecoder, WorkerRequest::SendRecorder, parent) {
    setWindowTitle("Регистратор (K-350A)");
    buildRecorderPage();
    buildLevelPage();
    connectControls();
    updateRxLevelEnabled();
    fixSize(380, 340);
}

void TFRecoder::buildRecorderPage() {
    QWidget* page = addPage("Регистратор");
    auto* grid = new QGridLayout(page);

    auto* channels = new QGroupBox("Селектор каналов", page);
    auto* channelsLayout = new QVBoxLayout(channels);
    Mic = makeCheckBox(channels, "Mic", "Микрофон");
    Rx = makeCheckBox(channels, "Rx", "Приемник");
    channelsLayout->addWidget(Mic);
    channelsLayout->addWidget(Rx);

    auto* controls = new QGroupBox("Управление каналами", page);
    auto* controlsLayout = new QVBoxLayout(controls);
    PttBut = makeCheckBox(controls, "PttBut", "Клавиша РТТ");
    TxLed = makeCheckBox(controls, "TxLed", "Сигнал TX (индикатор)");
    RxDispl = makeCheckBox(controls, "RxDispl", "Сигнал RX (дисплей)");
    RxLed = makeCheckBox(controls, "RxLed", "Сигнал RX (индикатор)");
    RxCtrl = makeCheckBox(controls, "RxCtrl", "Регулятор громкости");
    for (QCheckBox* box : {PttBut, TxLed, RxDispl, RxLed, RxCtrl}) controlsLayout->addWidget(box);
    flags_ = {{{Mic, kMicFlag},
               {Rx, kRxFlag},
               {PttBut, kPttButFlag},
               {TxLed, kTxLedFlag},
               {RxDispl, kRxDisplFlag},
               {RxLed, kRxLedFlag}}};

    auto* gains = new QGroupBox("Усиление по каналам (дБ)", page);
    auto* gainsLayout = new QGridLayout(gains);
    const auto addGain = [&](int column, const QString& caption, const char* barName,
                             const char* valueName, Word word) {
        QLabel* value = makeValueLabel(gains, valueName);
        QSlider* bar = makeBar(gains, barName, 0, kGainBarMax, 1);
        bar->setValue(8);
        bar->setAccessibleName(caption);
        gainsLayout->addWidget(new QLabel(caption, gains), 0, column, Qt::AlignHCenter);
        gainsLayout->addWidget(value, 1, column);
        gainsLayout->addWidget(bar, 2, column, Qt::AlignHCenter);
        gains_[std::size_t(column)] = GainBar{bar, value, word};
        return std::pair{bar, value};
    };
    std::tie(MicGain, MicGainVal) = addGain(0, "Микрофон", "MicGain", "MicGainVal", MicGainWord);
    std::tie(RxGain, RxGainVal) = addGain(1, "Приемник", "RxGain", "RxGainVal", RxGainWord);

    grid->addWidget(channels, 0, 0);
    grid->addWidget(controls, 1, 0);
    grid->addWidget(gains, 0, 1, 2, 1);
}

void TFRecoder::buildLevelPage() {
    QWidget* page = addPage("Уровень RX");
    auto* row = new QHBoxLayout(page);
    const LevelGroup level =
        makeLevelGroup(page, "Уровень RX", "RxLvlVal", "RxLvl", kRxLevelBarMax, 16);
    RxLvlVal = level.value;
    RxLvl = level.bar;
    row->addWidget(level.group);
    row->addStretch();
}

void TFRecoder::connectControls() {
    for (const FlagBox& flag : flags_) {
        connect(flag.box, &QCheckBox::toggled, this,
                [this, &flag](bool ticked) { flagClicked(flag, ticked); });
    }
    connect(RxCtrl, &QCheckBox::toggled, this, &TFRecoder::RxCtrlClick);
    for (const GainBar& gain : gains_) {
        connect(gain.bar, &QSlider::valueChanged, this, [this, &gain] { gainChanged(gain); });
    }
    connect(RxLvl, &QSlider::valueChanged, this, &TFRecoder::RxLvlChange);
}

// --- changes by the user -------------------------------------------------------------

void TFRecoder::flagClicked(const FlagBox& flag, bool ticked) {
    words_[Flags] = ticked ? std::uint16_t(words_[Flags] | flag.mask)
                           : std::uint16_t(words_[Flags] & ~flag.mask);
    settingChanged();
}

void TFRecoder::RxCtrlClick(bool ticked) {
    flagClicked(FlagBox{RxCtrl, kRxCtrlFlag}, ticked);
    updateRxLevelEnabled();
}

void TFRecoder::gainChanged(const GainBar& gain) {
    showGain(gain);
    settingChanged();
}

void TFRecoder::RxLvlChange() {
    showRxLevel();
    settingChanged();
}

void TFRecoder::showGain(const GainBar& gain) {
    words_[gain.word] = RecorderGainValue(gain.bar->value());
    gain.value->setText(SignedNumberLabel(RecorderGainDb(gain.bar->value())));
}

void TFRecoder::showRxLevel() {
    words_[RxLevelWord] = RxLevelValue(RxLvl->value());
    RxLvlVal->setText(QLocale().toString(int(words_[RxLevelWord])));
}

void TFRecoder::updateRxLevelEnabled() {
    RxLvl->setEnabled(variantA_ && RxCtrl->isChecked());
}

// --- load, reset, save, payload --------------------------------------------------------

void TFRecoder::LoadSettings(std::uint8_t model, RecorderBlock block) {
    endLiveMode();
    block_ = block;
    ReadBigEndianWords(block.data(), words_);
    for (const FlagBox& flag : flags_) setQuietly(flag.box, (words_[Flags] & flag.mask) != 0);
    variantA_ = HasVolumeRegulator(model);
    setWindowTitle(variantA_ ? "Регистратор (K-350A)" : "Регистратор (K-350B)");
    // K-350B has no volume regulator; its bit passes through untouched.
    setQuietly(RxCtrl, variantA_ && (words_[Flags] & kRxCtrlFlag) != 0);
    RxCtrl->setEnabled(variantA_);
    for (const GainBar& gain : gains_) {
        setQuietly(gain.bar, RecorderGainPosition(words_[gain.word]));
        showGain(gain);
    }
    setQuietly(RxLvl, RxLevelPosition(words_[RxLevelWord]));
    showRxLevel();
    updateRxLevelEnabled();
}

void TFRecoder::resetToDefaults() {
    words_[Flags] = kDefaultFlags;
    for (const FlagBox& flag : flags_) setQuietly(flag.box, (kDefaultFlags & flag.mask) != 0);
    setQuietly(RxCtrl, false);
    for (const GainBar& gain : gains_) {
        setQuietly(gain.bar, kGainDefault);
        showGain(gain);
    }
    setQuietly(RxLvl, kRxLevelDefault);
    showRxLevel();
    updateRxLevelEnabled();
}

void TFRecoder::saveToBlock() {
    if (block_) writePayload(block_->data());
}

void TFRecoder::writePayload(std::uint8_t* payload) const {
    WriteBigEndianWords(payload, words_);
}
