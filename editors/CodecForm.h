// TFCodec: the audio codec block of the configuration (register writes for a
// TLV320AIC23-type codec), with live writes of the changed register.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "config/ConfigImage.h"
#include "editors/SettingsForm.h"

class RadioGroup;

class TFCodec : public SettingsForm {
    Q_OBJECT
public:
    static constexpr std::size_t kBlockSize = CodecBlock::extent;

    explicit TFCodec(QWidget* parent = nullptr);
    // model: the model byte of the record (0 K-350A, other K-350B); block: the
    // codec block of the main window's record, valid while this window is open.
    void LoadSettings(std::uint8_t model, CodecBlock block);

    const std::array<std::uint8_t, kBlockSize>& editCopy() const { return copy_; }

protected:
    void writePayload(std::uint8_t* at) const override;
    void resetToDefaults() override;
    void saveToBlock() override;

private:
    // A gain bar, its value label and the data byte it edits (record offset).
    struct GainBar {
        QSlider* bar = nullptr;
        QLabel* value = nullptr;
        std::size_t offset = 0;
        bool output = false;
    };
    // A check box editing one bit; some are ticked when the bit is clear.
    struct BitBox {
        QCheckBox* box = nullptr;
        std::size_t offset = 0;
        std::uint8_t mask = 0;
        bool tickedWhenClear = false;
    };

    void buildAmplifiersPage();
    void buildExtrasPage();
    void buildBitBoxes(QWidget* page);
    void connectControls();
    void setVariantTexts(std::uint8_t model);

    std::uint8_t& at(std::size_t offset);
    std::uint8_t at(std::size_t offset) const;
    void setBit(std::size_t offset, std::uint8_t mask, bool set);
    void makePending(std::size_t dataOffset) { pendingPair_ = dataOffset - 1; }

    void showGain(const GainBar& gain);  // byte and label from the bar's position
    void loadGain(const GainBar& gain);
    void loadBitBox(const BitBox& bit);
    void loadSampleRate();

    void gainChanged(const GainBar& gain);
    void bitBoxClicked(const BitBox& bit, bool ticked);
    void SampleClick(int item);
    void DEEMPClick(int item);
    void InSelClick(int item);

    QLabel* LabelIn1 = nullptr;
    QLabel* LabelIn2 = nullptr;
    QLabel* LabelOut1 = nullptr;
    QLabel* LabelOut2 = nullptr;
    QSlider* RxLev_1 = nullptr;
    QSlider* RxLev_2 = nullptr;
    QSlider* TxLev_1 = nullptr;
    QSlider* TxLev_2 = nullptr;
    QCheckBox* PwrMic = nullptr;
    QCheckBox* PwrLine = nullptr;
    QCheckBox* MicMute = nullptr;
    QCheckBox* MicBoost = nullptr;
    QCheckBox* ADCHP = nullptr;
    RadioGroup* INSEL = nullptr;
    RadioGroup* Sample = nullptr;
    RadioGroup* DEEMP = nullptr;
    std::array<GainBar, 4> gains_{};
    std::array<BitBox, 5> bits_{};

    std::optional<CodecBlock> block_;
    std::array<std::uint8_t, kBlockSize> copy_{};
    std::size_t pendingPair_;
};
