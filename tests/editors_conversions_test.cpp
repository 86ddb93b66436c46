// The rules between stored bytes, bar positions and value labels of the
// settings windows, pinned to numbers (labels in the Russian locale).
#include <gtest/gtest.h>

#include "editors/SettingsConversions.h"

using namespace SettingsRules;

TEST(CodecConversions, InputGainLoadsFromTheLowFiveBitsAndRewritesTheWholeByte) {
    EXPECT_EQ(InputGainPosition(0x97), 8);
    EXPECT_EQ(InputGainCode(8), 0x17);
    EXPECT_EQ(SignedNumberLabel(InputGainDb(8)), "0");
    EXPECT_EQ(SignedNumberLabel(InputGainDb(0)), "+12");
    EXPECT_EQ(SignedNumberLabel(InputGainDb(31)), "-34,5");
    EXPECT_EQ(SignedNumberLabel(InputGainDb(7)), "+1,5");
    for (int position = 0; position <= kInputBarMax; ++position) {
        EXPECT_EQ(InputGainPosition(InputGainCode(position)), position);
    }
}

TEST(CodecConversions, OutputGainTopIsTheHighestGainAndLowCodesLoadAtTheTop) {
    EXPECT_EQ(OutputGainPosition(0x20), kOutputBarMin);
    EXPECT_EQ(OutputGainCode(kOutputBarMin), 127);
    EXPECT_EQ(SignedNumberLabel(OutputGainDb(48)), "+6");
    EXPECT_EQ(SignedNumberLabel(OutputGainDb(54)), "0");
    EXPECT_EQ(SignedNumberLabel(OutputGainDb(127)), "-73");
    EXPECT_EQ(OutputGainCode(50), 0x7D);
    // Bit 7 is no part of the code: 0xFA is code 122 (+1 dB), not the top.
    EXPECT_EQ(OutputGainPosition(0xFA), 53);
    EXPECT_EQ(OutputGainPosition(0x00), kOutputBarMin);
    EXPECT_EQ(OutputGainPosition(0xAF), kOutputBarMin);  // low bits 47
    for (int position = kOutputBarMin; position <= kOutputBarMax; ++position) {
        EXPECT_EQ(OutputGainPosition(OutputGainCode(position)), position);
    }
}

TEST(CodecConversions, SampleRateIsFoundFromBitsFiveToOne) {
    const std::uint8_t codes[] = {0x1E, 0x02, 0x1A, 0x0E, 0x06, 0x0A};
    for (int item = 0; item < kSampleItemCount; ++item) {
        EXPECT_EQ(SampleRateCode(item), codes[item]);
        EXPECT_EQ(SampleRateItem(codes[item]), item);
        EXPECT_EQ(SampleRateItem(std::uint8_t(codes[item] | 0xC1)), item);  // bits 0, 6, 7 ignored
    }
    EXPECT_EQ(SampleRateItem(0x1C), -1);
    EXPECT_EQ(SampleRateItem(0x00), -1);
}

TEST(AmplifierConversions, VolumeBarAndGainLabels) {
    EXPECT_EQ(VolumePosition(47), 16);
    EXPECT_EQ(AmplifierGainLabel(VolumeCode(16)), "+1,2");
    EXPECT_EQ(VolumePosition(0x0140), 63);
    EXPECT_EQ(VolumeCode(63), 0);
    EXPECT_EQ(AmplifierGainLabel(0), "-162,0");
    EXPECT_EQ(VolumeCode(0), 63);
    EXPECT_EQ(AmplifierGainLabel(63), "+9,5");
    EXPECT_EQ(AmplifierGainLabel(VolumeCode(17)), "+0,5");
    EXPECT_EQ(AmplifierGainLabel(45), "-0,5");
    EXPECT_EQ(AmplifierGainLabel(36), "-12,0");
    EXPECT_EQ(AmplifierGainLabel(1), "-92,8");
    EXPECT_FLOAT_EQ(AmplifierGainDb(0), -161.5f);
}

TEST(RecorderConversions, GainLadderInSinglePrecision) {
    const std::uint16_t ladder[] = {32767, 27570, 23197, 19518, 16422, 13817, 11626, 9782,
                                    8230,  6925,  5826,  4902,  4125,  3470,  2920,  2457,
                                    2067,  1739,  1463,  1231,  1036,  871,   733,   617,
                                    519,   436,   367,   309,   260,   219,   184,   155};
    for (int position = 0; position <= kGainBarMax; ++position) {
        EXPECT_EQ(RecorderGainValue(position), ladder[position]) << position;
        EXPECT_EQ(RecorderGainPosition(ladder[position]), position) << ladder[position];
    }
}

TEST(RecorderConversions, GainLoadRoundsToTheLadderAndLimitsLowValues) {
    EXPECT_EQ(RecorderGainPosition(4100), 12);
    EXPECT_EQ(RecorderGainValue(12), 4125);
    EXPECT_EQ(SignedNumberLabel(RecorderGainDb(12)), "0");
    EXPECT_EQ(RecorderGainPosition(8230), 8);
    EXPECT_EQ(SignedNumberLabel(RecorderGainDb(8)), "+6");
    EXPECT_EQ(SignedNumberLabel(RecorderGainDb(0)), "+18");
    for (std::uint16_t low : {std::uint16_t(0), std::uint16_t(154), std::uint16_t(0xFFFF),
                              std::uint16_t(0x8000), std::uint16_t(0x8001)}) {
        EXPECT_EQ(RecorderGainPosition(low), 31) << low;
    }
    EXPECT_EQ(RecorderGainValue(31), 155);
    EXPECT_EQ(SignedNumberLabel(RecorderGainDb(31)), "-28,5");
}

TEST(RecorderConversions, RxLevelInStepsOfFour) {
    EXPECT_EQ(RxLevelPosition(189), 16);
    EXPECT_EQ(RxLevelValue(16), 188);
    EXPECT_EQ(RxLevelValue(0), 252);
    EXPECT_EQ(RxLevelValue(63), 0);
    EXPECT_EQ(RxLevelValue(27), 144);
    EXPECT_EQ(RxLevelPosition(0xFFFF), 0);  // -1 as a signed word
    EXPECT_EQ(RxLevelPosition(256), 63);    // 64 steps wrap to the bottom
    for (int position = 0; position <= kRxLevelBarMax; ++position) {
        EXPECT_EQ(RxLevelPosition(RxLevelValue(position)), position);
    }
}

TEST(VocoderConversions, CodesAboveEightBecomeEightAndLowCodesSelectNothing) {
    EXPECT_EQ(LimitedVocoderCode(9), 8);
    EXPECT_EQ(LimitedVocoderCode(0x7FFF), 8);
    EXPECT_EQ(LimitedVocoderCode(0xFFFF), 0xFFFF);
    EXPECT_EQ(LimitedVocoderCode(1), 1);
    EXPECT_EQ(VocoderItem(0xFFFF), -1);
    EXPECT_EQ(VocoderItem(1), -1);
    EXPECT_EQ(VocoderItem(5), 3);
    for (int item = 0; item < kVocoderItemCount; ++item) {
        EXPECT_EQ(VocoderItem(VocoderCode(item)), item);
    }
    EXPECT_EQ(VocoderCode(6), 8);
}
