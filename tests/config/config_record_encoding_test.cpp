// Setting a record's fields by the names and in the units `show` prints them.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "config/ConfigImage.h"
#include "config/RecordDescription.h"
#include "config/RecordEncoding.h"

namespace {

class RecordEncodingTest : public ::testing::Test {
protected:
    TCrc crc;
    ConfigSnapshot record = MakeBlankSnapshot(crc, "15.03.2024");

    std::map<std::string, std::string> shown() const {
        std::map<std::string, std::string> fields;
        for (const FieldDescription& field : DescribeSnapshot(record, crc))
            fields[field.name] = field.value;
        return fields;
    }
    std::string set(const std::string& name, const std::string& value) {
        return SetRecordField(record, name, value, crc);
    }
};

// Every value a settable field shows for some stored position can be set back by its text, and
// then shows that text: the encoding and `show` agree field by field.
TEST_F(RecordEncodingTest, EveryShownValueOfEveryFieldSetsBackToItself) {
    for (const std::string& name : SettableFieldNames()) {
        const std::string before = shown()[name];
        EXPECT_EQ(set(name, before), "") << name;
        EXPECT_EQ(shown()[name], before) << name;
    }
    EXPECT_EQ(set("codec.left_input_gain", "-6 dB"), "");
    EXPECT_EQ(shown()["codec.left_input_gain"], "-6 dB");
    EXPECT_EQ(set("codec.left_input_gain", "+1.5"), "");  // the unit may be left out
    EXPECT_EQ(shown()["codec.left_input_gain"], "+1.5 dB");
    EXPECT_EQ(set("uart.baud_rate", "115200"), "");
    EXPECT_EQ(shown()["uart.baud_rate"], "115200 baud");
    EXPECT_EQ(set("uart.parity", "Even"), "");
    EXPECT_EQ(shown()["uart.parity"], "Even");
    EXPECT_EQ(set("recorder.rx_level", "100"), "");
    EXPECT_EQ(shown()["recorder.rx_level"], "100");
    EXPECT_EQ(set("board.model", "K-350B"), "");
    EXPECT_EQ(shown()["board.model"], "K-350B");
    EXPECT_EQ(set("board.pcb_revision", "Rev.D"), "");
    EXPECT_EQ(record.bytes[ConfigOffset::PcbRevision], 3);
}

TEST_F(RecordEncodingTest, ValuesTheWindowsWouldNotTakeAreRefusedWithWhatIsAllowed) {
    const ConfigSnapshot before = record;
    EXPECT_EQ(
        set("codec.left_input_gain", "+13 dB"),
        "codec.left_input_gain: \"+13 dB\" is not allowed; from -34.5 dB to +12 dB (32 steps)");
    EXPECT_NE(set("codec.left_input_gain", "+1.4 dB"), "");
    EXPECT_NE(set("codec.left_input_gain", "1.5 baud"), "");
    EXPECT_EQ(set("codec.microphone_mute", "yes"),
              "codec.microphone_mute: \"yes\" is not allowed; one of off, on");
    EXPECT_NE(set("uart.baud_rate", "17").find("an integer from 18 to 1152000"), std::string::npos);
    EXPECT_NE(set("uart.baud_rate", "9600.5"), "");
    EXPECT_NE(set("board.serial", "12345").find("at most 4"), std::string::npos);
    EXPECT_NE(set("board.date", "31.02.2024"), "");
    EXPECT_NE(set("board.description", "broken \\q escape"), "");
    EXPECT_NE(set("die_id", "0x01"), "");
    EXPECT_NE(set("crc", "0x0000"), "");
    EXPECT_NE(set("no.such", "1"), "");
    set("board.model", "K-350B");
    EXPECT_NE(set("recorder.volume_control", "on"), "");  // K-350B has no regulator
    record.bytes[ConfigOffset::Model] = 0;
    EXPECT_EQ(record.bytes, before.bytes);
}

TEST_F(RecordEncodingTest, TextFieldsFollowTheRecordsTextRule) {
    record.bytes[ConfigOffset::Serial + 3] = 'Z';
    EXPECT_EQ(set("board.serial", "42"), "");
    EXPECT_EQ(record.bytes[ConfigOffset::Serial], '4');
    EXPECT_EQ(record.bytes[ConfigOffset::Serial + 2], 0);
    EXPECT_EQ(record.bytes[ConfigOffset::Serial + 3], 'Z');  // past the zero: kept
    EXPECT_EQ(set("board.serial", "0042"), "");
    EXPECT_EQ(shown()["board.serial"], "0042");

    // A line break typed alone is stored as CR LF and counts as two characters.
    EXPECT_EQ(set("board.description", "Линия 1\\nстенд"), "");
    EXPECT_EQ(shown()["board.description"], "Линия 1\\r\\nстенд");
    EXPECT_NE(set("board.description", std::string(63, 'x') + "\\n").find("at most 64"),
              std::string::npos);
    const std::array<std::uint8_t, 16> ids{1, 2, 3};
    std::copy(ids.begin(), ids.end(), record.bytes.begin() + ConfigOffset::DieId);
    EXPECT_EQ(set("board.description", std::string(64, 'y')), "");
    EXPECT_EQ(record.bytes[ConfigOffset::DieId], 1);  // a full field has no zero after it

    EXPECT_EQ(set("board.date", "1.2.2025"), "");
    EXPECT_EQ(shown()["board.date"], "01.02.2025");
}

// A value is stored only where it reads back as given: a rate between two the divisor can give,
// or a character Windows-1251 has no byte for, is refused with what the field can hold.
TEST_F(RecordEncodingTest, ValuesThatWouldReadBackOtherwiseAreRefusedWithTheNearest) {
    const ConfigSnapshot before = record;
    EXPECT_EQ(set("uart.baud_rate", "115201"),
              "uart.baud_rate: 115201 baud cannot be stored exactly; the nearest rates the field "
              "holds are 115200 and 128000 baud");
    EXPECT_NE(set("uart.baud_rate", "9601").find("9600 and 9680"), std::string::npos);
    EXPECT_NE(set("uart.baud_rate", "56000").find("54857 and 57600"), std::string::npos);
    EXPECT_NE(set("uart.baud_rate", "1151999").find("576000 and 1152000"), std::string::npos);
    EXPECT_EQ(set("board.description", "Проверено ✓"),
              "board.description: \"✓\" (U+2713) has no Windows-1251 form");
    EXPECT_NE(set("board.serial", "A中").find("\"中\" (U+4E2D)"), std::string::npos);
    EXPECT_NE(set("board.software_version", "1\xFF").find("the byte 0xFF is not UTF-8"),
              std::string::npos);
    EXPECT_NE(set("board.description", "ok\n?\xE2\x9C").find("0xE2"), std::string::npos);
    EXPECT_EQ(record.bytes, before.bytes);

    for (const char* rate : {"18", "9600", "57600", "128000", "288000", "1152000"}) {
        EXPECT_EQ(set("uart.baud_rate", rate), "") << rate;
        EXPECT_EQ(shown()["uart.baud_rate"], std::string(rate) + " baud");
    }
    EXPECT_EQ(set("board.description", "Линия № 2 «А» — ?"), "");
    EXPECT_EQ(shown()["board.description"], "Линия № 2 «А» — ?");
}

}  // namespace
