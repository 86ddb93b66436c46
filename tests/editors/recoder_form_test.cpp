// TFRecoder used as a person would, the record checked byte for byte.
#include "tests/support/SettingsFormFixture.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

namespace {

TEST_F(SettingsFormsTest, RecorderResetLiveModeAndTxLedHandTheWholeBlock) {
    TFRecoder window;
    window.LoadSettings(0, record.recorder());
    Click(window, "ButDefault");
    EXPECT_FALSE(signalled(WorkerRequest::SendRecorder));
    Link(window)->click();
    Click(window, "TxLed");
    EXPECT_TRUE(signalled(WorkerRequest::SendRecorder));
    EXPECT_EQ(AskPayload(window), (Bytes{0x00, 0x0F, 0x10, 0x1D, 0x10, 0x1D, 0x00, 0x90}));
}

TEST_F(SettingsFormsTest, RecorderResetAndSaveWriteTheDefaults) {
    record.bytes[31] = 0x7F;
    TFRecoder window;
    window.LoadSettings(0, record.recorder());
    Click(window, "ButDefault");
    EXPECT_TRUE(Child<QCheckBox>(window, "Mic")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "RxCtrl")->isChecked());
    EXPECT_FALSE(Child<QSlider>(window, "RxLvl")->isEnabled());
    EXPECT_EQ(Text(window, "RxLvlVal"), "144");
    EXPECT_EQ(Text(window, "MicGainVal"), "0");
    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 30, 8), (Bytes{0x00, 0x07, 0x10, 0x1D, 0x10, 0x1D, 0x00, 0x90}));
}

TEST_F(SettingsFormsTest, RecorderLoadsGainsAndLevelByTheirLadders) {
    const std::uint8_t block[8] = {0x00, 0x3F, 0xFF, 0xFF, 0x10, 0x04, 0x00, 189};
    std::copy(block, block + 8, record.recorder().begin());
    TFRecoder window;
    window.LoadSettings(0, record.recorder());
    EXPECT_EQ(Child<QSlider>(window, "MicGain")->value(), 12);
    EXPECT_EQ(Text(window, "MicGainVal"), "0");
    EXPECT_EQ(Child<QSlider>(window, "RxGain")->value(), 31);
    EXPECT_EQ(Text(window, "RxGainVal"), "-28,5");
    EXPECT_EQ(Child<QSlider>(window, "RxLvl")->value(), 16);
    EXPECT_EQ(Text(window, "RxLvlVal"), "188");
    for (const char* box : {"Mic", "Rx", "PttBut", "TxLed", "RxDispl", "RxLed"}) {
        EXPECT_TRUE(Child<QCheckBox>(window, box)->isChecked()) << box;
    }
    EXPECT_FALSE(Child<QCheckBox>(window, "RxCtrl")->isChecked());
    EXPECT_EQ(AskPayload(window), (Bytes{0x00, 0x3F, 0x00, 155, 0x10, 0x1D, 0x00, 188}));
    EXPECT_EQ(window.windowTitle(), "Регистратор (K-350A)");
}

TEST_F(SettingsFormsTest, RecorderVolumeRegulatorEnablesTheRxLevelOnK350A) {
    record.bytes[30] = 0x12;
    record.bytes[31] = 0x00;
    TFRecoder window;
    window.LoadSettings(0, record.recorder());
    QSlider* level = Child<QSlider>(window, "RxLvl");
    EXPECT_TRUE(Child<QCheckBox>(window, "RxCtrl")->isEnabled());
    EXPECT_FALSE(level->isEnabled());
    Click(window, "RxCtrl");
    EXPECT_TRUE(level->isEnabled());
    EXPECT_EQ(AskPayload(window)[1], 0x40);
    EXPECT_EQ(AskPayload(window)[0], 0x12) << "bits 7..15 pass through";
    Click(window, "RxCtrl");
    EXPECT_FALSE(level->isEnabled());
}

TEST_F(SettingsFormsTest, RecorderOnK350BKeepsTheRegulatorBitUntilReset) {
    record.bytes[30] = 0x00;
    record.bytes[31] = 0x41;
    for (std::uint8_t model : {std::uint8_t(1), std::uint8_t(255)}) {
        TFRecoder window;
        window.LoadSettings(model, record.recorder());
        EXPECT_EQ(window.windowTitle(), "Регистратор (K-350B)");
        EXPECT_FALSE(Child<QCheckBox>(window, "RxCtrl")->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(window, "RxCtrl")->isEnabled());
        EXPECT_FALSE(Child<QSlider>(window, "RxLvl")->isEnabled());
        EXPECT_EQ(AskPayload(window)[1], 0x41);
        Click(window, "Rx");
        EXPECT_EQ(AskPayload(window)[1], 0x43);
        Click(window, "ButOk");
        EXPECT_EQ(record.bytes[31], 0x43);
        record.bytes[31] = 0x41;
    }
    TFRecoder window;
    window.LoadSettings(1, record.recorder());
    Click(window, "ButDefault");
    EXPECT_EQ(AskPayload(window)[1], 0x07);
    EXPECT_FALSE(Child<QSlider>(window, "RxLvl")->isEnabled());
}

// --- vocoder -------------------------------------------------------------------------------

}  // namespace
