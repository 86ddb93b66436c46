// TFCodec used as a person would, the record checked byte for byte.
#include "tests/support/SettingsFormFixture.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

namespace {

TEST_F(SettingsFormsTest, CodecLiveChangeHandsTheChangedRegisterPair) {
    TFCodec window;
    window.LoadSettings(0, record.codec());
    Link(window)->click();

    Child<QSlider>(window, "TxLev_2")->setValue(50);
    EXPECT_TRUE(signalled(WorkerRequest::SendCodec));
    EXPECT_EQ(AskPayload(window), (Bytes{0x06, 0x7D}));
    EXPECT_EQ(Text(window, "OutLev2"), "+4");

    Child<QSlider>(window, "RxLev_1")->setValue(0);
    EXPECT_EQ(AskPayload(window), (Bytes{0x00, 31}));
    EXPECT_EQ(Text(window, "InLev1"), "+12");
    ASSERT_EQ(Child<RadioGroup>(window, "INSEL")->itemIndex(), 1);
    Choose(window, "INSEL", 0);
    EXPECT_EQ(AskPayload(window)[0], 0x08);
    EXPECT_EQ(AskPayload(window)[1] & 0x04, 0);
}

TEST_F(SettingsFormsTest, CodecLoadsByItsRulesAndSaveWritesTheNormalisedBlock) {
    record.bytes[5] = 0x01;   // line amplifier off, microphone amplifier on
    record.bytes[7] = 0x86;   // microphone input, muted, bit 7 passes
    record.bytes[9] = 0x03;   // filter off, de-emphasis 32 kHz
    record.bytes[11] = 0x1C;  // no known rate
    record.bytes[13] = 0x97;
    record.bytes[17] = 0x20;
    record.bytes[19] = 0xFA;
    ASSERT_EQ(record.bytes[15], 0x6C);  // right input keeps its code 12
    TFCodec window;
    window.LoadSettings(0, record.codec());

    EXPECT_EQ(Child<QSlider>(window, "RxLev_1")->value(), 8);
    EXPECT_EQ(Text(window, "InLev1"), "0");
    EXPECT_EQ(Child<QSlider>(window, "TxLev_1")->value(), 48);
    EXPECT_EQ(Text(window, "OutLev1"), "+6");
    EXPECT_EQ(Text(window, "OutLev2"), "+1");
    EXPECT_EQ(Child<RadioGroup>(window, "INSEL")->itemIndex(), 1);
    EXPECT_EQ(Child<RadioGroup>(window, "DEEMP")->itemIndex(), 1);
    EXPECT_EQ(Child<RadioGroup>(window, "Sample")->itemIndex(), 3);
    EXPECT_FALSE(Child<RadioGroup>(window, "Sample")->isEnabled());
    EXPECT_TRUE(Child<QCheckBox>(window, "MicMute")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "MicBoost")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "ADCHP")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(window, "PwrMic")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "PwrLine")->isChecked());
    EXPECT_FALSE(signalled(WorkerRequest::SendCodec));

    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 2, 22),
              (Bytes{0x1E, 0x00, 0x0C, 0x21, 0x08, 0x96, 0x0A, 0x03, 0x10, 0x1C, 0x00,
                     0x17, 0x02, 0x0C, 0x04, 127,  0x06, 122,  0x0E, 0x43, 0x12, 0x01}));
}

TEST_F(SettingsFormsTest, CodecRecognisedRateIsRewrittenWithItsCode) {
    record.bytes[11] = 0xC3;  // bits 5..1 = 1: "48/48 кГц"
    TFCodec window;
    window.LoadSettings(0, record.codec());
    EXPECT_EQ(Child<RadioGroup>(window, "Sample")->itemIndex(), 1);
    EXPECT_EQ(window.editCopy()[11 - 2], 0x02);
}

TEST_F(SettingsFormsTest, CodecResetAndSaveWriteTheDefaults) {
    TFCodec window;
    window.LoadSettings(0, record.codec());
    Child<QSlider>(window, "RxLev_2")->setValue(30);
    Choose(window, "DEEMP", 3);
    Click(window, "ButDefault");
    EXPECT_EQ(Child<QSlider>(window, "RxLev_2")->value(), 8);
    EXPECT_EQ(Child<QSlider>(window, "TxLev_1")->value(), 54);
    EXPECT_EQ(Text(window, "InLev2"), "0");
    EXPECT_EQ(Child<RadioGroup>(window, "DEEMP")->itemIndex(), 0);
    EXPECT_TRUE(Child<QCheckBox>(window, "ADCHP")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(window, "MicMute")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(window, "PwrLine")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "PwrMic")->isChecked());
    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 2, 22),
              (Bytes{0x1E, 0x00, 0x0C, 0x22, 0x08, 0x12, 0x0A, 0x00, 0x10, 0x0E, 0x00,
                     23,   0x02, 23,   0x04, 121,  0x06, 121,  0x0E, 0x43, 0x12, 0x01}));
    EXPECT_EQ(WindowRegistry::Get(WindowId::FCodec), nullptr);
}

TEST_F(SettingsFormsTest, CodecVariantTexts) {
    struct Expected {
        std::uint8_t model;
        const char *caption, *in1, *out1, *out2;
    };
    for (const Expected& e :
         {Expected{0, "Аудио кодек (K-350A)", "Микрофон", "Гарнитура", "Регистратор"},
          Expected{1, "Аудио кодек (K-350B)", "Приемник", "Микрофон", "Доп. выход"},
          Expected{255, "Аудио кодек (K-350B)", "Приемник", "Микрофон", "Доп. выход"}}) {
        TFCodec window;
        window.LoadSettings(e.model, record.codec());
        EXPECT_EQ(window.windowTitle(), e.caption);
        EXPECT_EQ(Text(window, "LabelIn1"), e.in1);
        EXPECT_EQ(Text(window, "LabelIn2"), "Доп. вход");
        EXPECT_EQ(Text(window, "LabelOut1"), e.out1);
        EXPECT_EQ(Text(window, "LabelOut2"), e.out2);
    }
}

}  // namespace
