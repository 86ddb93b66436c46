// TFVocoder: the vocoder block of the configuration (the coding rate); every
// live command carries the whole block.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "config/ConfigImage.h"
#include "editors/SettingsForm.h"

class QGroupBox;
class RadioGroup;

class TFVocoder : public SettingsForm {
    Q_OBJECT
public:
    static constexpr std::size_t kBlockSize = VocoderBlock::extent;

    explicit TFVocoder(QWidget* parent = nullptr);
    // block: the vocoder block of the main window's record (three
    // big-endian words), valid while this window is open.
    void LoadSettings(VocoderBlock block);

    const std::array<std::uint16_t, 3>& editCopy() const { return words_; }

protected:
    void writePayload(std::uint8_t* at) const override;
    void resetToDefaults() override;
    void saveToBlock() override;

private:
    void ModeClick(int item);

    RadioGroup* Mode = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;

    std::optional<VocoderBlock> block_;
    std::array<std::uint16_t, 3> words_{};
};
