// What show and diff print for a record: every field by its documented name, in record order.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config/ConfigImage.h"
#include "config/RecordDescription.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields AsPairs(const std::vector<FieldDescription>& fields) {
    Fields pairs;
    for (const FieldDescription& field : fields) pairs.emplace_back(field.name, field.value);
    return pairs;
}

std::map<std::string, std::string> AsMap(const std::vector<FieldDescription>& fields) {
    std::map<std::string, std::string> map;
    for (const FieldDescription& field : fields) map[field.name] = field.value;
    return map;
}

class RecordDescriptionTest : public ::testing::Test {
protected:
    TCrc crc;
    ConfigSnapshot blank = MakeBlankSnapshot(crc, "15.03.2024");
};

}  // namespace

TEST_F(RecordDescriptionTest, TheBlankRecordReadsAsTheWindowsDefaultsFieldByField) {
    const Fields expected = {
        {"crc", "0x" +
                    [&] {
                        char digits[8];
                        std::snprintf(digits, sizeof digits, "%04X", unsigned(StoredCrc(blank)));
                        return std::string(digits);
                    }()},
        {"crc_ok", "yes"},
        {"codec.line_input_power", "on"},
        {"codec.microphone_power", "off"},
        {"codec.input_select", "line"},
        {"codec.microphone_mute", "on"},
        {"codec.microphone_boost", "off"},
        {"codec.adc_highpass", "on"},
        {"codec.deemphasis", "off"},
        {"codec.sample_rate", "8/8 kHz"},
        {"codec.left_input_gain", "0 dB"},
        {"codec.right_input_gain", "0 dB"},
        {"codec.left_output_gain", "0 dB"},
        {"codec.right_output_gain", "0 dB"},
        {"vocoder.rate", "17600 bit/s"},
        {"recorder.microphone", "on"},
        {"recorder.receiver", "on"},
        {"recorder.ptt_key", "on"},
        {"recorder.tx_indicator", "off"},
        {"recorder.rx_display", "off"},
        {"recorder.rx_indicator", "off"},
        {"recorder.volume_control", "off"},
        {"recorder.receiver_gain", "0 dB"},
        {"recorder.microphone_gain", "0 dB"},
        {"recorder.rx_level", "144"},
        {"amplifier.gain", "+0.5 dB"},
        {"amplifier.modulation", "SDM"},
        {"uart.rx_trigger_level", "60 characters"},
        {"uart.tx_trigger_level", "60 characters"},
        {"uart.baud_rate", "9600 baud"},
        {"uart.data_bits", "8"},
        {"uart.stop_bits", "1"},
        {"uart.parity", "None"},
        {"board.model", "K-350A"},
        {"board.pcb_revision", "Rev.B"},
        {"board.software_version", "0000"},
        {"board.serial", "0000"},
        {"board.date", "15.03.2024"},
        {"board.description", ""},
        {"die_id", "0x0000000000000000"},
        {"chip_id", "0x0000000000000000"},
    };
    EXPECT_EQ(AsPairs(DescribeSnapshot(blank, crc)), expected);
}

TEST_F(RecordDescriptionTest, DiffNamesOnlyTheChangedFieldsInRecordOrder) {
    EXPECT_TRUE(DiffSnapshots(blank, blank, crc).empty());
    ConfigSnapshot changed = blank;
    changed.bytes[ConfigOffset::Uart + 13] = 0x1B;  // 8 data bits, odd parity
    changed.bytes[13] = 0x18;                       // left input +1.5 dB
    RefreshCrc(crc, changed);
    const auto differences = DiffSnapshots(blank, changed, crc);
    ASSERT_EQ(differences.size(), 3u);
    EXPECT_EQ(differences[0].name, "crc");
    EXPECT_EQ(differences[1].name, "codec.left_input_gain");
    EXPECT_EQ(differences[1].first, "0 dB");
    EXPECT_EQ(differences[1].second, "+1.5 dB");
    EXPECT_EQ(differences[2].name, "uart.parity");
    EXPECT_EQ(differences[2].first, "None");
    EXPECT_EQ(differences[2].second, "Odd");
}

TEST_F(RecordDescriptionTest, AStaleCrcIsShownAsStoredAndFlagged) {
    blank.bytes[ConfigOffset::Description] = 'x';
    const auto fields = AsMap(DescribeSnapshot(blank, crc));
    EXPECT_EQ(fields.at("crc_ok"), "no");
    EXPECT_EQ(fields.at("board.description"), "x");
}
