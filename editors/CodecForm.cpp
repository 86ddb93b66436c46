#include "editors/CodecForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "config/ConfigImage.h"
#include "editors/RadioGroup.h"
#include "editors/SettingsConversions.h"

using namespace RecordRules;
using namespace SettingsRules;

namespace {
constexpr std::size_t kPowerData = CodecByte::Power, kAudioPathData = CodecByte::AudioPath,
                      kDigitalPathData = CodecByte::DigitalPath,
                      kSampleRateData = CodecByte::SampleRate,
                      kLeftInputData = CodecByte::LeftInput,
                      kLeftOutputData = CodecByte::LeftOutput;
constexpr int kInputDefault = 8, kOutputDefault = 54;

QStringList SampleRateCaptions() {
    QStringList captions;
    for (const SampleRateItemInfo& rate : kSampleRates) captions << QString::fromUtf8(rate.caption);
    return captions;
}

// Register addresses (times two) and the data of the writes the window does not edit.
constexpr std::pair<std::size_t, std::uint8_t> kFixedBytes[] = {
    {2, 0x1E},  {3, 0x00},  {4, 0x0C},  {6, 0x08},  {8, 0x0A},  {10, 0x10}, {12, 0x00},
    {14, 0x02}, {16, 0x04}, {18, 0x06}, {20, 0x0E}, {21, 0x43}, {22, 0x12}, {23, 0x01},
};
}  // namespace

TFCodec::TFCodec(QWidget* parent)
    : SettingsForm(WindowId::FCodec, WorkerRequest::SendCodec, parent),
      pendingPair_(kLeftInputData - 1) {
    buildAmplifiersPage();
    buildExtrasPage();
    connectControls();
    setVariantTexts(0);
    fixSize(357, 331);
}

void TFCodec::buildAmplifiersPage() {
    QWidget* page = addPage("Усилители");
    auto* row = new QHBoxLayout(page);
    const auto addGroup = [&](const QString& title, const char* labelNames[2],
                              const char* valueNames[2], const char* barNames[2], bool output,
                              std::size_t firstOffset, std::size_t gainIndex) {
        auto* group = new QGroupBox(title, page);
        auto* grid = new QGridLayout(group);
        for (int channel = 0; channel < 2; ++channel) {
            auto* label = new QLabel(group);
            label->setObjectName(labelNames[channel]);
            label->setAlignment(Qt::AlignCenter);
            QLabel* value = makeValueLabel(group, valueNames[channel]);
            QSlider* bar = output
                               ? makeBar(group, barNames[channel], kOutputBarMin, kOutputBarMax, 2)
                               : makeBar(group, barNames[channel], 0, kInputBarMax, 1);
            bar->setValue(output ? kOutputDefault : kInputDefault);
            grid->addWidget(label, 0, channel);
            grid->addWidget(value, 1, channel);
            grid->addWidget(bar, 2, channel, Qt::AlignHCenter);
            gains_[gainIndex + std::size_t(channel)] =
                GainBar{bar, value, firstOffset + 2 * std::size_t(channel), output};
        }
        row->addWidget(group);
    };
    const char* inLabels[2] = {"LabelIn1", "LabelIn2"};
    const char* inValues[2] = {"InLev1", "InLev2"};
    const char* inBars[2] = {"RxLev_1", "RxLev_2"};
    addGroup("Усиление по входу (дБ)", inLabels, inValues, inBars, false, kLeftInputData, 0);
    const char* outLabels[2] = {"LabelOut1", "LabelOut2"};
    const char* outValues[2] = {"OutLev1", "OutLev2"};
    const char* outBars[2] = {"TxLev_1", "TxLev_2"};
    addGroup("Усиление по выходу (дБ)", outLabels, outValues, outBars, true, kLeftOutputData, 2);

    RxLev_1 = gains_[0].bar;
    RxLev_2 = gains_[1].bar;
    TxLev_1 = gains_[2].bar;
    TxLev_2 = gains_[3].bar;
    LabelIn1 = findChild<QLabel*>("LabelIn1");
    LabelIn2 = findChild<QLabel*>("LabelIn2");
    LabelOut1 = findChild<QLabel*>("LabelOut1");
    LabelOut2 = findChild<QLabel*>("LabelOut2");
}

void TFCodec::buildExtrasPage() {
    QWidget* page = addPage("Дополнительно");
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(4);
    buildBitBoxes(page);
    const auto pairGroup = [page](const QString& title, QCheckBox* first, QCheckBox* second) {
        auto* group = new QGroupBox(title, page);
        auto* layout = new QVBoxLayout(group);
        layout->setContentsMargins(6, 2, 6, 2);
        layout->setSpacing(0);
        layout->addWidget(first);
        layout->addWidget(second);
        return group;
    };

    INSEL =
        new RadioGroup("Селектор входных каналов", {"Линейный вход", "Микрофонный вход"}, 1, page);
    INSEL->setObjectName("INSEL");
    Sample = new RadioGroup("Ацп/Цап", SampleRateCaptions(), 3, page);
    Sample->setObjectName("Sample");
    Sample->setItemIndex(3);
    Sample->setEnabled(false);  // shows the rate; the board's clocking fixes it
    DEEMP = new RadioGroup("Фильтр частотной коррекции", Captions(kDeemphasisCaptions), 4, page);
    DEEMP->setObjectName("DEEMP");

    grid->addWidget(pairGroup("Питание входных усилителей", PwrMic, PwrLine), 0, 0);
    grid->addWidget(INSEL, 0, 1);
    grid->addWidget(pairGroup("Микрофонный усилитель", MicMute, MicBoost), 1, 0);
    grid->addWidget(ADCHP, 1, 1);
    grid->addWidget(Sample, 2, 0, 1, 2);
    grid->addWidget(DEEMP, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);
}

void TFCodec::buildBitBoxes(QWidget* page) {
    PwrMic = makeCheckBox(page, "PwrMic", "Усилитель микрофонного входа");
    PwrLine = makeCheckBox(page, "PwrLine", "Усилитель линейного входа");
    MicMute = makeCheckBox(page, "MicMute", "Режим молчания");
    MicBoost = makeCheckBox(page, "MicBoost", "Дополнительное усиление +20 дБ");
    ADCHP = makeCheckBox(page, "ADCHP", "АЦП ВЧ фильтр ");
    bits_ = {{
        {PwrMic, kPowerData, kMicrophonePowerDown, true},
        {PwrLine, kPowerData, kLineInputPowerDown, true},
        {MicMute, kAudioPathData, kMicrophoneMute, false},
        {MicBoost, kAudioPathData, kMicrophoneBoost, false},
        {ADCHP, kDigitalPathData, kAdcHighPassOff, true},
    }};
}

void TFCodec::connectControls() {
    for (const GainBar& gain : gains_) {
        connect(gain.bar, &QSlider::valueChanged, this, [this, &gain] { gainChanged(gain); });
    }
    for (const BitBox& bit : bits_) {
        connect(bit.box, &QCheckBox::toggled, this,
                [this, &bit](bool ticked) { bitBoxClicked(bit, ticked); });
    }
    connect(Sample, &RadioGroup::itemSelected, this, &TFCodec::SampleClick);
    connect(DEEMP, &RadioGroup::itemSelected, this, &TFCodec::DEEMPClick);
    connect(INSEL, &RadioGroup::itemSelected, this, &TFCodec::InSelClick);
}

// --- edit copy -------------------------------------------------------------------

std::uint8_t& TFCodec::at(std::size_t offset) {
    return copy_[offset - ConfigOffset::Codec];
}

std::uint8_t TFCodec::at(std::size_t offset) const {
    return copy_[offset - ConfigOffset::Codec];
}

void TFCodec::setBit(std::size_t offset, std::uint8_t mask, bool set) {
    at(offset) = set ? std::uint8_t(at(offset) | mask) : std::uint8_t(at(offset) & ~mask);
}

void TFCodec::showGain(const GainBar& gain) {
    const int position = gain.bar->value();
    if (gain.output) {
        at(gain.offset) = OutputGainCode(position);
        gain.value->setText(SignedNumberLabel(OutputGainDb(position)));
    } else {
        at(gain.offset) = InputGainCode(position);
        gain.value->setText(SignedNumberLabel(InputGainDb(position)));
    }
}

// --- changes by the user -------------------------------------------------------------

void TFCodec::gainChanged(const GainBar& gain) {
    showGain(gain);
    makePending(gain.offset);
    settingChanged();
}

void TFCodec::bitBoxClicked(const BitBox& bit, bool ticked) {
    setBit(bit.offset, bit.mask, ticked != bit.tickedWhenClear);
    makePending(bit.offset);
    settingChanged();
}

void TFCodec::SampleClick(int item) {
    at(kSampleRateData) = SampleRateCode(item);
    makePending(kSampleRateData);
    settingChanged();
}

void TFCodec::DEEMPClick(int item) {
    at(kDigitalPathData) = WithDeemphasis(at(kDigitalPathData), item);
    makePending(kDigitalPathData);
    settingChanged();
}

void TFCodec::InSelClick(int item) {
    setBit(kAudioPathData, kMicrophoneInput, item == 1);
    makePending(kAudioPathData);
    settingChanged();
}

// --- load, reset, save, payload --------------------------------------------------------

void TFCodec::setVariantTexts(std::uint8_t model) {
    const bool variantA = model == 0;
    setWindowTitle(variantA ? "Аудио кодек (K-350A)" : "Аудио кодек (K-350B)");
    LabelIn1->setText(variantA ? "Микрофон" : "Приемник");
    LabelIn2->setText("Доп. вход");
    LabelOut1->setText(variantA ? "Гарнитура" : "Микрофон");
    LabelOut2->setText(variantA ? "Регистратор" : "Доп. выход");
    for (const GainBar& gain : gains_) {
        const QLabel* channel = gain.output ? (gain.bar == TxLev_1 ? LabelOut1 : LabelOut2)
                                            : (gain.bar == RxLev_1 ? LabelIn1 : LabelIn2);
        const QString group = gain.output ? "Усиление по выходу" : "Усиление по входу";
        gain.bar->setAccessibleName(group + ": " + channel->text());
    }
}

void TFCodec::loadGain(const GainBar& gain) {
    const std::uint8_t stored = at(gain.offset);
    setQuietly(gain.bar, gain.output ? OutputGainPosition(stored) : InputGainPosition(stored));
    showGain(gain);
}

void TFCodec::loadBitBox(const BitBox& bit) {
    const bool set = (at(bit.offset) & bit.mask) != 0;
    setQuietly(bit.box, set != bit.tickedWhenClear);
}

void TFCodec::loadSampleRate() {
    const int item = SampleRateItem(at(kSampleRateData));
    if (item < 0) return;  // unknown rate: kept as stored
    Sample->setItemIndex(item);
    at(kSampleRateData) = SampleRateCode(item);
}

void TFCodec::LoadSettings(std::uint8_t model, CodecBlock block) {
    endLiveMode();
    setVariantTexts(model);
    block_ = block;
    std::ranges::copy(block, copy_.begin());
    for (const GainBar& gain : gains_) loadGain(gain);
    loadBitBox(bits_[4]);
    DEEMP->setItemIndex(DeemphasisItem(at(kDigitalPathData)));
    loadSampleRate();
    setBit(kAudioPathData, kDacSelected, true);
    INSEL->setItemIndex((at(kAudioPathData) & kMicrophoneInput) ? 1 : 0);
    loadBitBox(bits_[2]);
    loadBitBox(bits_[3]);
    setBit(kPowerData, kOscillatorPowerDown, true);
    loadBitBox(bits_[0]);
    loadBitBox(bits_[1]);
    for (const auto& [offset, value] : kFixedBytes) at(offset) = value;
}

void TFCodec::resetToDefaults() {
    setQuietly(RxLev_1, kInputDefault);
    setQuietly(RxLev_2, kInputDefault);
    setQuietly(TxLev_1, kOutputDefault);
    setQuietly(TxLev_2, kOutputDefault);
    for (const GainBar& gain : gains_) showGain(gain);
    at(kDigitalPathData) = 0x00;
    at(kSampleRateData) = 0x0E;
    at(kAudioPathData) = 0x12;
    at(kPowerData) = 0x22;
    for (const BitBox& bit : bits_) loadBitBox(bit);
    DEEMP->setItemIndex(0);
    Sample->setItemIndex(3);
    INSEL->setItemIndex(0);
}

void TFCodec::saveToBlock() {
    if (block_) std::ranges::copy(copy_, block_->begin());
}

void TFCodec::writePayload(std::uint8_t* payload) const {
    payload[0] = at(pendingPair_);
    payload[1] = at(pendingPair_ + 1);
}
