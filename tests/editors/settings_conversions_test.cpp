// The texts of the settings windows' value labels, in the Russian locale the tests run in.
#include <gtest/gtest.h>

#include "editors/SettingsConversions.h"
#include "tests/support/TestLocales.h"

// The expected texts below are the Russian forms.
[[maybe_unused]] const auto* const kRussian =
    ::testing::AddGlobalTestEnvironment(new RussianLocaleEnvironment);

using namespace RecordRules;
using namespace SettingsRules;

TEST(CodecLabels, InputGainInHalfDecibelStepsWithTheLocaleSeparator) {
    EXPECT_EQ(SignedNumberLabel(InputGainDb(8)), "0");
    EXPECT_EQ(SignedNumberLabel(InputGainDb(0)), "+12");
    EXPECT_EQ(SignedNumberLabel(InputGainDb(31)), "-34,5");
    EXPECT_EQ(SignedNumberLabel(InputGainDb(7)), "+1,5");
}

TEST(CodecLabels, OutputGainInWholeDecibels) {
    EXPECT_EQ(SignedNumberLabel(OutputGainDb(48)), "+6");
    EXPECT_EQ(SignedNumberLabel(OutputGainDb(54)), "0");
    EXPECT_EQ(SignedNumberLabel(OutputGainDb(127)), "-73");
}

TEST(AmplifierLabels, ThreeSignificantDigitsAndOneDecimal) {
    EXPECT_EQ(AmplifierGainLabel(VolumeCode(16)), "+1,2");
    EXPECT_EQ(AmplifierGainLabel(0), "-162,0");
    EXPECT_EQ(AmplifierGainLabel(63), "+9,5");
    EXPECT_EQ(AmplifierGainLabel(VolumeCode(17)), "+0,5");
    EXPECT_EQ(AmplifierGainLabel(45), "-0,5");
    EXPECT_EQ(AmplifierGainLabel(36), "-12,0");
    EXPECT_EQ(AmplifierGainLabel(1), "-92,8");
}

TEST(RecorderLabels, GainInHalfDecibelSteps) {
    EXPECT_EQ(SignedNumberLabel(RecorderGainDb(12)), "0");
    EXPECT_EQ(SignedNumberLabel(RecorderGainDb(8)), "+6");
    EXPECT_EQ(SignedNumberLabel(RecorderGainDb(0)), "+18");
    EXPECT_EQ(SignedNumberLabel(RecorderGainDb(31)), "-28,5");
}

TEST(RadioGroupCaptions, RecordCaptionsAreDecodedFromUtf8) {
    const QStringList captions = Captions(kModulationCaptions);
    ASSERT_EQ(captions.size(), 2);
    EXPECT_EQ(captions[0], QStringLiteral("СДМ"));
    EXPECT_EQ(captions[1], QStringLiteral("ШИМ"));
}
