// What show and diff print for a record: every field by its documented name, in record order.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
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

    std::string StoredCrcText() const {
        char digits[8];
        std::snprintf(digits, sizeof digits, "0x%04X", unsigned(StoredCrc(blank)));
        return digits;
    }
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

TEST_F(RecordDescriptionTest, TextFieldsAreDecodedAndEveryControlCharacterEscaped) {
    const std::uint8_t description[] = {'a',  '\\', 0xC4, 0xE0, '\r', '\n',
                                        '\t', 0x01, 0x98, 0x7F, 'z',  0};
    std::memcpy(blank.data() + ConfigOffset::Description, description, sizeof description);
    std::memcpy(blank.data() + ConfigOffset::Serial, "1234", 4);  // fills its field: no zero
    blank.bytes[ConfigOffset::Date] = 0;
    blank.bytes[ConfigOffset::PcbRevision] = 0xC9;  // letter 0x0A, a line feed
    const auto fields = AsMap(DescribeSnapshot(blank, crc));
    EXPECT_EQ(fields.at("board.description"), "a\\\\Да\\r\\n\\t\\x01\\x98\\x7Fz");
    EXPECT_EQ(fields.at("board.serial"), "1234");
    EXPECT_EQ(fields.at("board.date"), "");
    EXPECT_EQ(fields.at("board.pcb_revision"), "Rev.\\n");
}

TEST_F(RecordDescriptionTest, CodesTheWindowsCannotShowAreNamedWithTheirStoredValue) {
    blank.bytes[11] = 0x1C;                     // sample rate bits 5..1 = 14
    blank.bytes[ConfigOffset::Vocoder] = 0xFF;  // code -1
    blank.bytes[ConfigOffset::Vocoder + 1] = 0xFF;
    blank.bytes[ConfigOffset::Amplifier + 2] = 0x00;  // modulation word 0
    blank.bytes[ConfigOffset::Uart + 5] = 0;          // divisor 0
    blank.bytes[ConfigOffset::Uart + 7] = 0;
    blank.bytes[ConfigOffset::Model] = 2;
    const auto fields = AsMap(DescribeSnapshot(blank, crc));
    EXPECT_EQ(fields.at("codec.sample_rate"), "unknown (0x1C)");
    EXPECT_EQ(fields.at("vocoder.rate"), "unknown (0xFFFF)");
    EXPECT_EQ(fields.at("amplifier.modulation"), "unknown (0x0000)");
    EXPECT_EQ(fields.at("uart.baud_rate"), "invalid (divisor 0)");
    EXPECT_EQ(fields.at("board.model"), "K-350B (model byte 0x02)");
}

TEST_F(RecordDescriptionTest, TheVolumeRegulatorIsOnlyOnTheK350A) {
    blank.bytes[ConfigOffset::Recorder + 1] |= 0x40;
    EXPECT_EQ(AsMap(DescribeSnapshot(blank, crc)).at("recorder.volume_control"), "on");
    blank.bytes[ConfigOffset::Model] = 1;
    EXPECT_EQ(AsMap(DescribeSnapshot(blank, crc)).at("recorder.volume_control"), "n/a (bit set)");
    blank.bytes[ConfigOffset::Recorder + 1] &= ~0x40;
    EXPECT_EQ(AsMap(DescribeSnapshot(blank, crc)).at("recorder.volume_control"), "n/a");
}

TEST_F(RecordDescriptionTest, DiffOfRecordsWithEqualFieldsButOtherIdsNamesTheIds) {
    ConfigSnapshot other = blank;
    other.bytes[ConfigOffset::ChipId + 7] = 0xAB;
    const auto differences = DiffSnapshots(blank, other, crc);
    ASSERT_EQ(differences.size(), 1u);
    EXPECT_EQ(differences[0].name, "chip_id");
    EXPECT_EQ(differences[0].second, "0x00000000000000AB");
}

// The man page's list of fields names every field, in record order, and nothing else.
TEST_F(RecordDescriptionTest, TheManPageDocumentsEveryFieldNameInRecordOrder) {
    std::ifstream page(std::string(K350_SOURCE_DIR) + "/packaging/k350ctl.1");
    ASSERT_TRUE(page.good());
    std::vector<std::string> documented;
    bool inSection = false, tagNext = false;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH ", 0) == 0) inSection = line == ".SH CONFIGURATION FIELDS";
        // Each field is a tagged paragraph: ".TP", then ".B name".
        if (inSection && tagNext && line.rfind(".B ", 0) == 0) documented.push_back(line.substr(3));
        tagNext = line == ".TP";
    }
    std::vector<std::string> described;
    for (const FieldDescription& field : DescribeSnapshot(blank, crc))
        described.push_back(field.name);
    EXPECT_EQ(documented, described);
}
