// What k350ctl show and diff print agrees with what the windows display for the same record: every
// field, on many records, with the windows in the C locale (a "." decimal separator).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <map>
#include <random>
#include <string>

#include "config/ConfigImage.h"
#include "config/RecordDescription.h"
#include "config/RecordRules.h"
#include "editors/AudioForm.h"
#include "editors/CodecForm.h"
#include "editors/FormUart.h"
#include "editors/RadioGroup.h"
#include "editors/RecoderForm.h"
#include "editors/VocoderForm.h"
#include "config/Clock.h"
#include "link/K350Task.h"
#include "monitor/FormInfo.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/VirtualClock.h"
#include "tests/support/WindowControls.h"
#include "ui/WindowRegistry.h"

using namespace RecordRules;

namespace {

using Described = std::map<std::string, std::string>;

// Text bytes the windows show as they are: printable Windows-1251, no control characters, and no
// no-break space (the description edit hands it back as a plain space).
std::uint8_t PrintableByte(std::mt19937& random) {
    for (;;) {
        const auto byte = std::uint8_t(std::uniform_int_distribution<int>(0x20, 0xFF)(random));
        if (byte != 0x7F && byte != 0x98 && byte != 0xA0 && byte != '\\') return byte;
    }
}

void FillText(std::mt19937& random, ConfigSnapshot& record, std::size_t offset, std::size_t width) {
    const auto length = std::size_t(std::uniform_int_distribution<int>(0, int(width))(random));
    for (std::size_t i = 0; i < length; ++i) record.bytes[offset + i] = PrintableByte(random);
    if (length < width) record.bytes[offset + length] = 0;
}

// Settings bytes of every value, so unknown codes and stray bits are met as well as good ones.
ConfigSnapshot RandomRecord(std::mt19937& random) {
    ConfigSnapshot record;
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (std::uint8_t& byte : record.bytes) byte = std::uint8_t(anyByte(random));
    record.bytes[ConfigOffset::Model] = std::uint8_t(anyByte(random) % 3);
    FillText(random, record, ConfigOffset::SoftwareVersion, ConfigLength::SoftwareVersion);
    FillText(random, record, ConfigOffset::Serial, ConfigLength::Serial);
    FillText(random, record, ConfigOffset::Date, ConfigLength::Date);
    FillText(random, record, ConfigOffset::Description, ConfigLength::Description);
    // The revision letter (0x41 + byte) a printable character.
    record.bytes[ConfigOffset::PcbRevision] = std::uint8_t(PrintableByte(random) - 0x41);
    return record;
}

class DescriptionAgreesWithWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale::c());
        SetK350Worker(&worker);
    }
    void TearDown() override {
        SetK350Worker(nullptr);
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    }

    template <class T>
    static T* Child(QWidget& window, const char* name) {
        return NamedControl<T>(window, name);
    }
    static std::string Text(QWidget& window, const char* label) {
        return Child<QLabel>(window, label)->text().toStdString();
    }
    static std::string OnOff(QWidget& window, const char* box) {
        return Child<QCheckBox>(window, box)->isChecked() ? "on" : "off";
    }
    static int Item(QWidget& window, const char* group) {
        return Child<RadioGroup>(window, group)->itemIndex();
    }
    static std::string Line(QWidget& window, const char* field) {
        return Child<QLineEdit>(window, field)->text().toStdString();
    }
    static std::string Combo(QWidget& window, const char* selector) {
        return Child<QComboBox>(window, selector)->currentText().toStdString();
    }

    void checkCodec(ConfigSnapshot copy, const Described& d);
    void checkVocoder(ConfigSnapshot copy, const Described& d);
    void checkRecorder(ConfigSnapshot copy, const Described& d);
    void checkAmplifier(ConfigSnapshot copy, const Described& d);
    void checkUart(ConfigSnapshot copy, const Described& d);
    void checkInfo(const ConfigSnapshot& record, const Described& d);

    void checkAll(const ConfigSnapshot& record) {
        Described d;
        for (const FieldDescription& field : DescribeSnapshot(record, crc))
            d[field.name] = field.value;
        checkCodec(record, d);
        checkVocoder(record, d);
        checkRecorder(record, d);
        checkAmplifier(record, d);
        checkUart(record, d);
        checkInfo(record, d);
        EXPECT_EQ(d.at("crc_ok"), ComputeCrc(crc, record) == StoredCrc(record) ? "yes" : "no");
    }

    TCrc crc;
    VirtualClock clock;
    RecordingChannel channel;
    TK350 worker{channel, clock};
};

void DescriptionAgreesWithWindowsTest::checkCodec(ConfigSnapshot copy, const Described& d) {
    const std::uint8_t rate = copy.bytes[CodecByte::SampleRate];
    TFCodec codec;
    codec.LoadSettings(copy.model(), copy.codec());
    EXPECT_EQ(d.at("codec.line_input_power"), OnOff(codec, "PwrLine"));
    EXPECT_EQ(d.at("codec.microphone_power"), OnOff(codec, "PwrMic"));
    EXPECT_EQ(d.at("codec.input_select"), Item(codec, "INSEL") == 1 ? "microphone" : "line");
    EXPECT_EQ(d.at("codec.microphone_mute"), OnOff(codec, "MicMute"));
    EXPECT_EQ(d.at("codec.microphone_boost"), OnOff(codec, "MicBoost"));
    EXPECT_EQ(d.at("codec.adc_highpass"), OnOff(codec, "ADCHP"));
    EXPECT_EQ(d.at("codec.deemphasis"), kDeemphasisValues.at(std::size_t(Item(codec, "DEEMP"))));
    // An unknown rate leaves the window's item as it was and is named with its byte.
    const std::string& sampleRate = d.at("codec.sample_rate");
    if (SampleRateItem(rate) < 0) {
        EXPECT_EQ(sampleRate.rfind("unknown (0x", 0), 0u) << sampleRate;
    } else {
        EXPECT_EQ(sampleRate, kSampleRates.at(std::size_t(Item(codec, "Sample"))).rates);
    }
    EXPECT_EQ(d.at("codec.left_input_gain"), Text(codec, "InLev1") + " dB");
    EXPECT_EQ(d.at("codec.right_input_gain"), Text(codec, "InLev2") + " dB");
    EXPECT_EQ(d.at("codec.left_output_gain"), Text(codec, "OutLev1") + " dB");
    EXPECT_EQ(d.at("codec.right_output_gain"), Text(codec, "OutLev2") + " dB");
}

void DescriptionAgreesWithWindowsTest::checkVocoder(ConfigSnapshot copy, const Described& d) {
    TFVocoder vocoder;
    vocoder.LoadSettings(copy.vocoder());
    const int item = Item(vocoder, "Mode");
    if (item < 0) {
        EXPECT_EQ(d.at("vocoder.rate").rfind("unknown (0x", 0), 0u) << d.at("vocoder.rate");
    } else {
        const auto caption = Child<RadioGroup>(vocoder, "Mode")->button(item)->text();
        EXPECT_EQ(d.at("vocoder.rate"), caption.toStdString() + " bit/s");
    }
}

void DescriptionAgreesWithWindowsTest::checkRecorder(ConfigSnapshot copy, const Described& d) {
    TFRecoder recorder;
    recorder.LoadSettings(copy.model(), copy.recorder());
    EXPECT_EQ(d.at("recorder.microphone"), OnOff(recorder, "Mic"));
    EXPECT_EQ(d.at("recorder.receiver"), OnOff(recorder, "Rx"));
    EXPECT_EQ(d.at("recorder.ptt_key"), OnOff(recorder, "PttBut"));
    EXPECT_EQ(d.at("recorder.tx_indicator"), OnOff(recorder, "TxLed"));
    EXPECT_EQ(d.at("recorder.rx_display"), OnOff(recorder, "RxDispl"));
    EXPECT_EQ(d.at("recorder.rx_indicator"), OnOff(recorder, "RxLed"));
    // K-350B shows the regulator unticked and disabled.
    const std::string& regulator = d.at("recorder.volume_control");
    if (Child<QCheckBox>(recorder, "RxCtrl")->isEnabled()) {
        EXPECT_EQ(regulator, OnOff(recorder, "RxCtrl"));
    } else {
        EXPECT_EQ(regulator.rfind("n/a", 0), 0u) << regulator;
    }
    EXPECT_EQ(d.at("recorder.receiver_gain"), Text(recorder, "RxGainVal") + " dB");
    EXPECT_EQ(d.at("recorder.microphone_gain"), Text(recorder, "MicGainVal") + " dB");
    EXPECT_EQ(d.at("recorder.rx_level"), Text(recorder, "RxLvlVal"));
}

void DescriptionAgreesWithWindowsTest::checkAmplifier(ConfigSnapshot copy, const Described& d) {
    const std::uint16_t modulation = ReadLittleEndian(copy.data() + ConfigOffset::Amplifier + 2);
    TFAudio amplifier;
    amplifier.LoadSettings(copy.amplifier());
    EXPECT_EQ(d.at("amplifier.gain"), Text(amplifier, "Level") + " dB");
    // An unknown command byte loads as SDM in the window and is named with its word here.
    const std::string& shown = d.at("amplifier.modulation");
    if (ModulationItem(modulation) < 0) {
        EXPECT_EQ(shown.rfind("unknown (0x", 0), 0u) << shown;
    } else {
        EXPECT_EQ(shown, kModulationValues.at(std::size_t(Item(amplifier, "Mod"))));
    }
}

void DescriptionAgreesWithWindowsTest::checkUart(ConfigSnapshot copy, const Described& d) {
    TFUart uart;
    uart.LoadSettings(copy.uart());
    EXPECT_EQ(d.at("uart.rx_trigger_level"), Text(uart, "RxLevel") + " characters");
    EXPECT_EQ(d.at("uart.tx_trigger_level"), Text(uart, "TxLevel") + " characters");
    const std::string rate = Combo(uart, "Rate");
    EXPECT_EQ(d.at("uart.baud_rate"), rate == "Error" ? "invalid (divisor 0)" : rate + " baud");
    EXPECT_EQ(d.at("uart.data_bits"), Combo(uart, "Data"));
    EXPECT_EQ(d.at("uart.stop_bits"), Combo(uart, "Stop"));
    EXPECT_EQ(d.at("uart.parity"), Combo(uart, "Parity"));
}

void DescriptionAgreesWithWindowsTest::checkInfo(const ConfigSnapshot& record, const Described& d) {
    TFInfo info;
    info.LoadSettings(record.boardInfo(), record.deviceIds(), StoredCrc(record), kSnapshotSize);
    const std::string model = Line(info, "sModel");
    EXPECT_EQ(d.at("board.model").substr(0, model.size()), model);
    if (record.model() <= 1) {
        EXPECT_EQ(d.at("board.model"), model);
    }
    EXPECT_EQ(d.at("board.pcb_revision"), Line(info, "sBoard"));
    EXPECT_EQ(d.at("board.software_version"), Line(info, "sSoft"));
    EXPECT_EQ(d.at("board.serial"), Line(info, "sSerial"));
    EXPECT_EQ(d.at("board.date"), Line(info, "sData"));
    EXPECT_EQ(d.at("board.description"),
              Child<QPlainTextEdit>(info, "sDescr")->toPlainText().toStdString());
    EXPECT_EQ(d.at("die_id"), Line(info, "sDie"));
    EXPECT_EQ(d.at("chip_id"), Line(info, "sChip"));
    EXPECT_EQ(d.at("crc"), Line(info, "sCrc"));
}

}  // namespace

TEST_F(DescriptionAgreesWithWindowsTest, EveryFieldOfManyRecordsReadsAsTheWindowsShowIt) {
    std::mt19937 random(350);
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        ConfigSnapshot record = RandomRecord(random);
        if (round % 2) RefreshCrc(crc, record);
        checkAll(record);
        if (HasFailure()) break;
    }
}

TEST_F(DescriptionAgreesWithWindowsTest, TheBlankRecordAndBothVariants) {
    ConfigSnapshot record = MakeBlankSnapshot(crc, "01.02.2025");
    checkAll(record);
    record.bytes[ConfigOffset::Model] = 1;
    record.bytes[ConfigOffset::Recorder + 1] |= kRxCtrlFlag;
    checkAll(record);
}

// Every value of the one-byte codes: each gain, rate, level and format byte set to it.
TEST_F(DescriptionAgreesWithWindowsTest, EveryValueOfEachByteWideCode) {
    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        ConfigSnapshot record = MakeBlankSnapshot(crc, "01.02.2025");
        const auto byte = std::uint8_t(value);
        for (std::size_t offset = CodecByte::Power; offset <= CodecByte::RightOutput; offset += 2) {
            record.bytes[offset] = byte;
        }
        record.bytes[ConfigOffset::Amplifier] = byte;
        record.bytes[ConfigOffset::Amplifier + 2] = byte;
        record.bytes[ConfigOffset::Vocoder + 1] = byte;
        for (std::size_t word = 0; word < 4; ++word) {
            record.bytes[ConfigOffset::Recorder + 2 * word + (value % 2)] = byte;
        }
        record.bytes[ConfigOffset::Uart + UartByte::Levels] = byte;
        record.bytes[ConfigOffset::Uart + UartByte::DivisorLow] = byte;
        record.bytes[ConfigOffset::Uart + UartByte::Format] = byte;
        record.bytes[ConfigOffset::PcbRevision] = std::uint8_t(value % 26);  // A..Z
        checkAll(record);
        if (HasFailure()) break;
    }
}
