// TFAudio: the LF amplifier block of the configuration (volume and
// modulation), with live writes of the changed command byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "config/ConfigImage.h"
#include "config/RecordRules.h"
#include "editors/SettingsForm.h"

class RadioGroup;

class TFAudio : public SettingsForm {
    Q_OBJECT
public:
    static constexpr std::size_t kBlockSize = AmplifierBlock::extent;

    explicit TFAudio(QWidget* parent = nullptr);
    // block: the amplifier block of the main window's record (two
    // little-endian words), valid while this window is open.
    void LoadSettings(AmplifierBlock block);

    std::uint16_t volumeWord() const { return volume_; }
    std::uint16_t modulationWord() const { return modulation_; }

protected:
    void writePayload(std::uint8_t* at) const override;
    void resetToDefaults() override;
    void saveToBlock() override;

private:
    enum class Pending { Volume, Modulation };

    void LevChange();
    void ModClick(int item);
    void showVolume();  // word and label from the bar's position

    QSlider* Lev = nullptr;
    QLabel* Level = nullptr;
    RadioGroup* Mod = nullptr;

    std::optional<AmplifierBlock> block_;
    std::uint16_t volume_ = 0;
    std::uint16_t modulation_ = RecordRules::kSdm;
    Pending pending_ = Pending::Volume;
};
