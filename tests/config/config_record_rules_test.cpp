// The record's rules between stored bytes, bar positions, items and values, pinned to numbers.
#include <gtest/gtest.h>

#include <array>

#include "config/RecordRules.h"

using namespace RecordRules;

TEST(CodecRules, InputGainLoadsFromTheLowFiveBitsAndRewritesTheWholeByte) {
    EXPECT_EQ(InputGainPosition(0x97), 8);
    EXPECT_EQ(InputGainCode(8), 0x17);
    EXPECT_EQ(SignedNumberText(InputGainDb(8)), "0");
    EXPECT_EQ(SignedNumberText(InputGainDb(0)), "+12");
    EXPECT_EQ(SignedNumberText(InputGainDb(31)), "-34.5");
    EXPECT_EQ(SignedNumberText(InputGainDb(7)), "+1.5");
    for (int position = 0; position <= kInputBarMax; ++position) {
        EXPECT_EQ(InputGainPosition(InputGainCode(position)), position);
    }
}

TEST(CodecRules, OutputGainTopIsTheHighestGainAndLowCodesLoadAtTheTop) {
    EXPECT_EQ(OutputGainPosition(0x20), kOutputBarMin);
    EXPECT_EQ(OutputGainCode(kOutputBarMin), 127);
    EXPECT_EQ(OutputGainDb(48), 6);
    EXPECT_EQ(OutputGainDb(54), 0);
    EXPECT_EQ(OutputGainDb(127), -73);
    EXPECT_EQ(OutputGainCode(50), 0x7D);
    // Bit 7 is no part of the code: 0xFA is code 122 (+1 dB), not the top.
    EXPECT_EQ(OutputGainPosition(0xFA), 53);
    EXPECT_EQ(OutputGainPosition(0x00), kOutputBarMin);
    EXPECT_EQ(OutputGainPosition(0xAF), kOutputBarMin);  // low bits 47
    for (int position = kOutputBarMin; position <= kOutputBarMax; ++position) {
        EXPECT_EQ(OutputGainPosition(OutputGainCode(position)), position);
    }
}

TEST(CodecRules, SampleRateIsFoundFromBitsFiveToOne) {
    const std::uint8_t codes[] = {0x1E, 0x02, 0x1A, 0x0E, 0x06, 0x0A};
    for (int item = 0; item < kSampleItemCount; ++item) {
        EXPECT_EQ(SampleRateCode(item), codes[item]);
        EXPECT_EQ(SampleRateItem(codes[item]), item);
        EXPECT_EQ(SampleRateItem(std::uint8_t(codes[item] | 0xC1)), item);  // bits 0, 6, 7 ignored
    }
    EXPECT_EQ(SampleRateItem(0x1C), -1);
    EXPECT_EQ(SampleRateItem(0x00), -1);
    EXPECT_STREQ(kSampleRates[3].caption, "  8/8   кГц");
    EXPECT_STREQ(kSampleRates[4].rates, "48/8 kHz");
}

TEST(CodecRules, DeemphasisIsBitsTwoToOneAndLeavesTheFilterBit) {
    EXPECT_EQ(DeemphasisItem(0x05), 2);
    EXPECT_EQ(WithDeemphasis(0x01, 3), 0x07);
    EXPECT_EQ(WithDeemphasis(0xFF, 0), 0xF9);
    EXPECT_STREQ(kDeemphasisCaptions[2], "44.1 кГц");
}

TEST(AmplifierRules, VolumeBarGainTableAndModulation) {
    EXPECT_EQ(VolumePosition(47), 16);
    EXPECT_EQ(VolumePosition(0x0140), 63);
    EXPECT_EQ(VolumeCode(63), 0);
    EXPECT_EQ(VolumeCode(0), 63);
    EXPECT_FLOAT_EQ(AmplifierGainDb(0), -161.5f);
    EXPECT_DOUBLE_EQ(AmplifierGainShown(0), -162.0);  // three significant digits
    EXPECT_DOUBLE_EQ(AmplifierGainShown(47), 1.2);
    EXPECT_DOUBLE_EQ(AmplifierGainShown(1), -92.8);
    EXPECT_EQ(ModulationItem(kSdm), 0);
    EXPECT_EQ(ModulationItem(kPwm), 1);
    EXPECT_EQ(ModulationItem(0), -1);
    EXPECT_EQ(ModulationWord(1), 0xD5);
    EXPECT_EQ(ModulationWord(0), 0xD6);
}

TEST(RecorderRules, GainLadderInSinglePrecision) {
    const std::uint16_t ladder[] = {32767, 27570, 23197, 19518, 16422, 13817, 11626, 9782,
                                    8230,  6925,  5826,  4902,  4125,  3470,  2920,  2457,
                                    2067,  1739,  1463,  1231,  1036,  871,   733,   617,
                                    519,   436,   367,   309,   260,   219,   184,   155};
    for (int position = 0; position <= kGainBarMax; ++position) {
        EXPECT_EQ(RecorderGainValue(position), ladder[position]) << position;
        EXPECT_EQ(RecorderGainPosition(ladder[position]), position) << ladder[position];
    }
}

TEST(RecorderRules, GainLoadRoundsToTheLadderAndLimitsLowValues) {
    EXPECT_EQ(RecorderGainPosition(4100), 12);
    EXPECT_EQ(RecorderGainValue(12), 4125);
    EXPECT_EQ(SignedNumberText(RecorderGainDb(12)), "0");
    EXPECT_EQ(RecorderGainPosition(8230), 8);
    EXPECT_EQ(SignedNumberText(RecorderGainDb(8)), "+6");
    EXPECT_EQ(SignedNumberText(RecorderGainDb(0)), "+18");
    for (std::uint16_t low : {std::uint16_t(0), std::uint16_t(154), std::uint16_t(0xFFFF),
                              std::uint16_t(0x8000), std::uint16_t(0x8001)}) {
        EXPECT_EQ(RecorderGainPosition(low), 31) << low;
    }
    EXPECT_EQ(RecorderGainValue(31), 155);
    EXPECT_EQ(SignedNumberText(RecorderGainDb(31)), "-28.5");
    EXPECT_TRUE(HasVolumeRegulator(0));
    EXPECT_FALSE(HasVolumeRegulator(1));
    EXPECT_FALSE(HasVolumeRegulator(255));
}

TEST(RecorderRules, RxLevelInStepsOfFour) {
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

TEST(VocoderRules, CodesAboveEightBecomeEightAndLowCodesSelectNothing) {
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
    EXPECT_EQ(kVocoderRates[3], 11000);
}

TEST(UartRules, DivisorAndRateBothWays) {
    const std::pair<std::uint32_t, std::uint16_t> rates[] = {
        {110, 10472}, {300, 3840}, {9600, 120}, {56000, 20}, {57600, 20}, {128000, 9}, {256000, 4}};
    for (const auto& [rate, divisor] : rates) EXPECT_EQ(DivisorOfRate(rate), divisor) << rate;
    EXPECT_EQ(RateOfDivisor(20), 57600u);
    EXPECT_EQ(RateOfDivisor(4), 288000u);
    EXPECT_EQ(RateOfDivisor(0), std::nullopt);
    // 0 and rates the 16-bit divisor cannot hold are refused.
    EXPECT_EQ(DivisorOfRate(0), std::nullopt);
    EXPECT_EQ(DivisorOfRate(kLowestRate - 1), std::nullopt);
    EXPECT_EQ(DivisorOfRate(kLowestRate), kUartClockDivided / kLowestRate);
    EXPECT_EQ(DivisorOfRate(kHighestRate), 1);
    EXPECT_EQ(DivisorOfRate(kHighestRate + 1), std::nullopt);
    std::array<std::uint8_t, 14> block{};
    StoreUartDivisor(block.data(), 0x1234);
    EXPECT_EQ(block[5], 0x34);
    EXPECT_EQ(block[7], 0x12);
    EXPECT_EQ(UartDivisor(block.data()), 0x1234);
}

TEST(UartRules, FormatFieldsAndTriggerLevels) {
    EXPECT_EQ(DataBits(0x00), 5);
    EXPECT_EQ(DataBits(0xC3), 8);
    EXPECT_EQ(WithDataBits(0xFC, 6), 0xFD);
    EXPECT_STREQ(StopBitsText(0x04), "1.5");
    EXPECT_STREQ(StopBitsText(0x05), "2");
    EXPECT_STREQ(StopBitsText(0x03), "1");
    const std::pair<std::uint8_t, int> parities[] = {{0x00, 0}, {0x08, 1}, {0x18, 2}, {0x28, 3},
                                                     {0x38, 4}, {0x10, 0}, {0x20, 0}, {0x30, 0}};
    for (const auto& [format, item] : parities) EXPECT_EQ(ParityItem(format), item) << int(format);
    EXPECT_EQ(ParityCode(2), 0x18);
    EXPECT_STREQ(kParityNames[4], "Space");
    EXPECT_EQ(RxTriggerCode(0xA5), 10);
    EXPECT_EQ(TxTriggerCode(0xA5), 5);
    EXPECT_EQ(WithRxTriggerCode(0xA5, 1), 0x15);
    EXPECT_EQ(WithTxTriggerCode(0xA5, 15), 0xAF);
    EXPECT_EQ(TriggerPosition(15), 0);
    EXPECT_EQ(TriggerPosition(1), 14);
    EXPECT_EQ(TriggerPosition(0), 14);  // the bar cannot show code 0
    EXPECT_EQ(TriggerCharacters(TriggerCode(0)), 60);
    EXPECT_EQ(TriggerCharacters(TriggerCode(14)), 4);
}

TEST(BoardInfoRules, VariantRevisionIdsAndLineBreaks) {
    EXPECT_STREQ(VariantName(0), "K-350A");
    EXPECT_STREQ(VariantName(1), "K-350B");
    EXPECT_STREQ(VariantName(7), "K-350B");
    EXPECT_EQ(RevisionText(3), "Rev.D");
    EXPECT_EQ(RevisionText(0xFF), "Rev.@");  // 0x41 + 0xFF wraps to 0x40
    EXPECT_EQ(RevisionText(0x8F), "Rev.Р");  // Windows-1251 0xD0
    const std::uint8_t id[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(DeviceIdText(id), "0x0123456789ABCDEF");
    EXPECT_EQ(CrcText(0x0A5), "0x00A5");
    EXPECT_EQ(ShownLineBreaks("a\r\nb\r\n"), "a\nb\n");
    EXPECT_EQ(StoredLineBreaks("a\nb"), "a\r\nb");
    EXPECT_EQ(StoredLineBreaks(ShownLineBreaks("x\r\ny")), "x\r\ny");
}
