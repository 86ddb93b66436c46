// TFVocoder used as a person would, the record checked byte for byte.
#include "tests/support/SettingsFormFixture.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

namespace {

TEST_F(SettingsFormsTest, VocoderLiveChoiceHandsTheWholeBlock) {
    const std::uint8_t block[6] = {0x00, 0x05, 0x12, 0x34, 0x56, 0x78};
    std::copy(block, block + 6, record.vocoder().begin());
    TFVocoder window;
    window.LoadSettings(record.vocoder());
    EXPECT_EQ(Child<RadioGroup>(window, "Mode")->itemIndex(), 3);
    Link(window)->click();
    Choose(window, "Mode", 2);
    EXPECT_TRUE(signalled(WorkerRequest::SendVocoder));
    EXPECT_EQ(AskPayload(window), (Bytes{0x00, 0x04, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(Child<QGroupBox>(window, "GroupBox1")->isEnabled());
}

TEST_F(SettingsFormsTest, VocoderLimitsHighCodesAndKeepsUnknownLowOnes) {
    struct Case {
        std::uint8_t high, low;
        int item;
        Bytes saved;
    };
    for (const Case& c : {Case{0x00, 0x09, 6, {0x00, 0x08}}, Case{0xFF, 0xFF, -1, {0xFF, 0xFF}},
                          Case{0x00, 0x01, -1, {0x00, 0x01}}}) {
        const std::uint8_t block[6] = {c.high, c.low, 1, 2, 3, 4};
        std::copy(block, block + 6, record.vocoder().begin());
        TFVocoder window;
        window.LoadSettings(record.vocoder());
        EXPECT_EQ(Child<RadioGroup>(window, "Mode")->itemIndex(), c.item);
        Click(window, "ButOk");
        Bytes expected = c.saved;
        expected.insert(expected.end(), {0, 0, 0, 0});
        EXPECT_EQ(Slice(record, 24, 6), expected);
    }
}

TEST_F(SettingsFormsTest, VocoderResetAndSaveWriteTheDefaults) {
    TFVocoder window;
    window.LoadSettings(record.vocoder());
    Choose(window, "Mode", 0);
    Click(window, "ButDefault");
    EXPECT_EQ(Child<RadioGroup>(window, "Mode")->itemIndex(), 6);
    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 24, 6), (Bytes{0x00, 0x08, 0x00, 0x00, 0x00, 0x00}));
}

}  // namespace
