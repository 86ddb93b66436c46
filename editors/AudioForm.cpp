#include "editors/AudioForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <algorithm>

#include "editors/RadioGroup.h"
#include "editors/SettingsConversions.h"

using namespace RecordRules;
using namespace SettingsRules;

namespace {
constexpr int kVolumeDefaultPosition = 17;  // code 46, +0.5 dB
}

TFAudio::TFAudio(QWidget* parent)
    : SettingsForm(WindowId::FAudio, WorkerRequest::SendAmplifier, parent) {
    setWindowTitle("Усилитель НЧ");
    QWidget* page = addPage("УНЧ");
    auto* row = new QHBoxLayout(page);

    const LevelGroup gain =
        makeLevelGroup(page, "Усиление (дБ)", "Level", "Lev", kVolumeBarMax, 16);
    Level = gain.value;
    Lev = gain.bar;

    Mod = new RadioGroup("Модуляция", Captions(kModulationCaptions), 1, page);
    Mod->setObjectName("Mod");
    Mod->setItemIndex(0);

    row->addWidget(gain.group);
    row->addWidget(Mod, 0, Qt::AlignTop);
    fixSize(300, 320);

    connect(Lev, &QSlider::valueChanged, this, &TFAudio::LevChange);
    connect(Mod, &RadioGroup::itemSelected, this, &TFAudio::ModClick);
}

void TFAudio::showVolume() {
    volume_ = VolumeCode(Lev->value());
    Level->setText(AmplifierGainLabel(volume_));
}

void TFAudio::LevChange() {
    showVolume();
    pending_ = Pending::Volume;
    settingChanged();
}

void TFAudio::ModClick(int item) {
    modulation_ = ModulationWord(item);
    pending_ = Pending::Modulation;
    settingChanged();
}

void TFAudio::LoadSettings(AmplifierBlock block) {
    endLiveMode();
    block_ = block;
    volume_ = ReadLittleEndian(&block[AmplifierByte::Volume]);
    modulation_ = ReadLittleEndian(&block[AmplifierByte::Modulation]);
    setQuietly(Lev, VolumePosition(volume_));
    showVolume();
    const int item = std::max(0, ModulationItem(modulation_));  // an unknown word loads as SDM
    modulation_ = ModulationWord(item);
    Mod->setItemIndex(item);
}

void TFAudio::resetToDefaults() {
    setQuietly(Lev, kVolumeDefaultPosition);
    showVolume();
    modulation_ = kSdm;
    Mod->setItemIndex(0);
}

void TFAudio::saveToBlock() {
    if (!block_) return;
    WriteLittleEndian(&(*block_)[AmplifierByte::Volume], volume_);
    WriteLittleEndian(&(*block_)[AmplifierByte::Modulation], modulation_);
}

void TFAudio::writePayload(std::uint8_t* payload) const {
    payload[0] = std::uint8_t(pending_ == Pending::Volume ? volume_ : modulation_);
}
