#include "editors/VocoderForm.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "editors/RadioGroup.h"
#include "editors/SettingsConversions.h"

using namespace RecordRules;
using namespace SettingsRules;

namespace {
constexpr int kDefaultItem = 6;  // "17600", code 8
}

TFVocoder::TFVocoder(QWidget* parent)
    : SettingsForm(WindowId::FVocoder, WorkerRequest::SendVocoder, parent) {
    setWindowTitle("Вокодер");
    QWidget* page = addPage("Вокодер");
    auto* row = new QHBoxLayout(page);

    QStringList rates;
    for (int rate : kVocoderRates) rates << QString::number(rate);
    Mode = new RadioGroup("Кодирование (бит/с)", rates, 1, page);
    Mode->setObjectName("Mode");

    // VAD and DTX are not configurable on this board: shown, never changed.
    GroupBox1 = new QGroupBox("Управление", page);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setAccessibleName("Управление");
    auto* controls = new QVBoxLayout(GroupBox1);
    CheckBox1 = makeCheckBox(GroupBox1, "CheckBox1", "Режим VAD");
    CheckBox2 = makeCheckBox(GroupBox1, "CheckBox2", "Режим DTX");
    controls->addWidget(CheckBox1);
    controls->addWidget(CheckBox2);
    controls->addStretch();
    GroupBox1->setEnabled(false);

    row->addWidget(Mode);
    row->addWidget(GroupBox1);
    fixSize(340, 300);

    connect(Mode, &RadioGroup::itemSelected, this, &TFVocoder::ModeClick);
}

void TFVocoder::ModeClick(int item) {
    words_[0] = VocoderCode(item);
    settingChanged();
}

void TFVocoder::LoadSettings(VocoderBlock block) {
    endLiveMode();
    block_ = block;
    ReadBigEndianWords(block.data(), words_);
    words_[0] = LimitedVocoderCode(words_[0]);
    Mode->setItemIndex(VocoderItem(words_[0]));
    words_[1] = 0;
    words_[2] = 0;
}

void TFVocoder::resetToDefaults() {
    words_[0] = VocoderCode(kDefaultItem);
    Mode->setItemIndex(kDefaultItem);
}

void TFVocoder::saveToBlock() {
    if (block_) writePayload(block_->data());
}

void TFVocoder::writePayload(std::uint8_t* payload) const {
    WriteBigEndianWords(payload, words_);
}
