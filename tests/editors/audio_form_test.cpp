// TFAudio used as a person would, the record checked byte for byte.
#include "tests/support/SettingsFormFixture.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

namespace {

TEST_F(SettingsFormsTest, AmplifierLiveChangesHandTheCommandByte) {
    TFAudio window;
    window.LoadSettings(record.amplifier());
    Link(window)->click();
    Choose(window, "Mod", 1);
    EXPECT_TRUE(signalled(WorkerRequest::SendAmplifier));
    EXPECT_EQ(AskPayload(window), Bytes{0xD5});
    Child<QSlider>(window, "Lev")->setValue(0);
    EXPECT_EQ(AskPayload(window), Bytes{63});
    EXPECT_EQ(Text(window, "Level"), "+9,5");
}

TEST_F(SettingsFormsTest, AmplifierLoadsVolumeAndModulation) {
    const std::pair<std::uint16_t, int> volumes[] = {{47, 16}, {0x0140, 63}};
    const char* labels[] = {"+1,2", "-162,0"};
    for (int i = 0; i < 2; ++i) {
        record.bytes[38] = std::uint8_t(volumes[i].first);
        record.bytes[39] = std::uint8_t(volumes[i].first >> 8);
        record.bytes[40] = i == 0 ? 0xD5 : 0x00;
        record.bytes[41] = 0;
        TFAudio window;
        window.LoadSettings(record.amplifier());
        EXPECT_EQ(Child<QSlider>(window, "Lev")->value(), volumes[i].second);
        EXPECT_EQ(Text(window, "Level"), labels[i]);
        EXPECT_EQ(Child<RadioGroup>(window, "Mod")->itemIndex(), i == 0 ? 1 : 0);
        Click(window, "ButOk");
        EXPECT_EQ(Slice(record, 38, 4), i == 0 ? (Bytes{47, 0, 0xD5, 0}) : (Bytes{0, 0, 0xD6, 0}));
    }
}

TEST_F(SettingsFormsTest, AmplifierLoadEndsLiveModeAndResetWritesTheDefaults) {
    TFAudio window;
    Link(window)->click();
    worker.signal(WorkerRequest::SendAmplifier);
    window.LoadSettings(record.amplifier());
    EXPECT_FALSE(Link(window)->isChecked());
    EXPECT_FALSE(signalled(WorkerRequest::SendAmplifier));

    Click(window, "ButDefault");
    EXPECT_EQ(Child<QSlider>(window, "Lev")->value(), 17);
    EXPECT_EQ(Text(window, "Level"), "+0,5");
    Click(window, "ButOk");
    EXPECT_EQ(Slice(record, 38, 4), (Bytes{46, 0, 0xD6, 0}));
}

// --- recorder ------------------------------------------------------------------------------

}  // namespace
