// TFRecoder: the recorder block of the configuration (channels, channel
// controls, channel gains, RX level); every live command carries the whole block.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "config/ConfigImage.h"
#include "config/RecordRules.h"
#include "editors/SettingsForm.h"

class TFRecoder : public SettingsForm {
    Q_OBJECT
public:
    static constexpr std::size_t kBlockSize = RecorderBlock::extent;
    // The block's four big-endian words, in order.
    using Word = RecordRules::RecorderWord;
    using enum RecordRules::RecorderWord;

    explicit TFRecoder(QWidget* parent = nullptr);
    // model: the model byte of the record (0 K-350A, other K-350B); block: the
    // recorder block of the main window's record, valid while this window is open.
    void LoadSettings(std::uint8_t model, RecorderBlock block);

    const std::array<std::uint16_t, 4>& editCopy() const { return words_; }

protected:
    void writePayload(std::uint8_t* at) const override;
    void resetToDefaults() override;
    void saveToBlock() override;

private:
    struct FlagBox {
        QCheckBox* box = nullptr;
        std::uint16_t mask = 0;
    };
    struct GainBar {
        QSlider* bar = nullptr;
        QLabel* value = nullptr;
        Word word = Flags;
    };

    void buildRecorderPage();
    void buildLevelPage();
    void connectControls();
    void flagClicked(const FlagBox& flag, bool ticked);
    void RxCtrlClick(bool ticked);
    void gainChanged(const GainBar& gain);
    void RxLvlChange();
    void showGain(const GainBar& gain);
    void showRxLevel();
    void updateRxLevelEnabled();

    QCheckBox* Mic = nullptr;
    QCheckBox* Rx = nullptr;
    QCheckBox* PttBut = nullptr;
    QCheckBox* TxLed = nullptr;
    QCheckBox* RxDispl = nullptr;
    QCheckBox* RxLed = nullptr;
    QCheckBox* RxCtrl = nullptr;
    QSlider* MicGain = nullptr;
    QSlider* RxGain = nullptr;
    QSlider* RxLvl = nullptr;
    QLabel* MicGainVal = nullptr;
    QLabel* RxGainVal = nullptr;
    QLabel* RxLvlVal = nullptr;
    std::array<FlagBox, 6> flags_{};  // all but RxCtrl, which also depends on the variant
    std::array<GainBar, 2> gains_{};

    std::optional<RecorderBlock> block_;
    std::array<std::uint16_t, 4> words_{};
    bool variantA_ = true;
};
