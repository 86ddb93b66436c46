#include "config/RecordDescription.h"

#include <array>
#include <cstdio>

#include "config/Cp1251.h"
#include "config/RecordRules.h"

using namespace RecordRules;

namespace {

// Collects the fields of one snapshot in record order.
class Describer {
public:
    explicit Describer(const ConfigSnapshot& snapshot) : bytes_(snapshot.data()) {}

    void add(std::string name, std::string value) {
        fields_.push_back({std::move(name), std::move(value)});
    }
    std::uint8_t byte(std::size_t offset) const { return bytes_[offset]; }
    const std::uint8_t* at(std::size_t offset) const { return bytes_ + offset; }
    std::vector<FieldDescription> take() { return std::move(fields_); }

private:
    const std::uint8_t* bytes_;
    std::vector<FieldDescription> fields_;
};

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// A stored value outside the field's codes: named as such, with the bytes that hold it.
std::string Unknown(unsigned value, int digits) {
    return "unknown (" + Hex(value, digits) + ")";
}

std::string Db(const std::string& number) {
    return number + " dB";
}

// Text fields decoded to UTF-8, one line whatever they hold: control characters and the
// backslash are escaped.
std::string EscapedText(const std::uint8_t* field, std::size_t width) {
    std::string text;
    for (std::size_t i = 0; i < width && field[i] != 0; ++i) {
        const std::uint8_t byte = field[i];
        switch (byte) {
            case '\\':
                text += "\\\\";
                continue;
            case '\r':
                text += "\\r";
                continue;
            case '\n':
                text += "\\n";
                continue;
            case '\t':
                text += "\\t";
                continue;
            default:
                break;
        }
        // 0x98 has no Windows-1251 character; it decodes to a C1 control.
        if (byte < 0x20 || byte == 0x7F || byte == 0x98) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(byte));
            text += escape;
        } else {
            text += Cp1251ToUtf8(&byte, 1);
        }
    }
    return text;
}

void DescribeCodec(Describer& d) {
    const std::uint8_t power = d.byte(CodecByte::Power);
    d.add("codec.line_input_power", OnOff(!(power & kLineInputPowerDown)));
    d.add("codec.microphone_power", OnOff(!(power & kMicrophonePowerDown)));
    const std::uint8_t path = d.byte(CodecByte::AudioPath);
    d.add("codec.input_select", path & kMicrophoneInput ? "microphone" : "line");
    d.add("codec.microphone_mute", OnOff(path & kMicrophoneMute));
    d.add("codec.microphone_boost", OnOff(path & kMicrophoneBoost));
    const std::uint8_t digital = d.byte(CodecByte::DigitalPath);
    d.add("codec.adc_highpass", OnOff(!(digital & kAdcHighPassOff)));
    d.add("codec.deemphasis", kDeemphasisValues[std::size_t(DeemphasisItem(digital))]);
    const std::uint8_t rate = d.byte(CodecByte::SampleRate);
    const int item = SampleRateItem(rate);
    d.add("codec.sample_rate", item < 0 ? Unknown(rate, 2) : kSampleRates[std::size_t(item)].rates);
    const auto input = [&](const char* name, std::size_t offset) {
        d.add(name, Db(SignedNumberText(InputGainDb(InputGainPosition(d.byte(offset))))));
    };
    const auto output = [&](const char* name, std::size_t offset) {
        d.add(name, Db(SignedNumberText(OutputGainDb(OutputGainPosition(d.byte(offset))))));
    };
    input("codec.left_input_gain", CodecByte::LeftInput);
    input("codec.right_input_gain", CodecByte::RightInput);
    output("codec.left_output_gain", CodecByte::LeftOutput);
    output("codec.right_output_gain", CodecByte::RightOutput);
}

void DescribeVocoder(Describer& d) {
    const std::uint16_t stored = ReadBigEndian(d.at(ConfigOffset::Vocoder));
    const int item = VocoderItem(LimitedVocoderCode(stored));
    d.add("vocoder.rate", item < 0 ? Unknown(stored, 4)
                                   : std::to_string(kVocoderRates[std::size_t(item)]) + " bit/s");
}

void DescribeRecorder(Describer& d, std::uint8_t model) {
    std::array<std::uint16_t, 4> words{};
    ReadBigEndianWords(d.at(ConfigOffset::Recorder), words);
    const std::uint16_t flags = words[Flags];
    d.add("recorder.microphone", OnOff(flags & kMicFlag));
    d.add("recorder.receiver", OnOff(flags & kRxFlag));
    d.add("recorder.ptt_key", OnOff(flags & kPttButFlag));
    d.add("recorder.tx_indicator", OnOff(flags & kTxLedFlag));
    d.add("recorder.rx_display", OnOff(flags & kRxDisplFlag));
    d.add("recorder.rx_indicator", OnOff(flags & kRxLedFlag));
    // K-350B has no volume regulator; its bit is kept, so it is named when set.
    const bool regulator = flags & kRxCtrlFlag;
    d.add("recorder.volume_control", HasVolumeRegulator(model) ? OnOff(regulator)
                                     : regulator               ? "n/a (bit set)"
                                                               : "n/a");
    const auto gain = [&](const char* name, std::uint16_t word) {
        d.add(name, Db(SignedNumberText(RecorderGainDb(RecorderGainPosition(word)))));
    };
    gain("recorder.receiver_gain", words[RxGainWord]);
    gain("recorder.microphone_gain", words[MicGainWord]);
    d.add("recorder.rx_level", std::to_string(RxLevelValue(RxLevelPosition(words[RxLevelWord]))));
}

std::string AmplifierGainText(int code) {
    char digits[16];
    const double shown = AmplifierGainShown(code);
    std::snprintf(digits, sizeof digits, "%.1f", shown);
    return Db(shown > 0 ? std::string("+") + digits : digits);
}

void DescribeAmplifier(Describer& d) {
    const std::uint16_t volume =
        ReadLittleEndian(d.at(ConfigOffset::Amplifier + AmplifierByte::Volume));
    d.add("amplifier.gain", AmplifierGainText(VolumeCode(VolumePosition(volume))));
    const std::uint16_t modulation =
        ReadLittleEndian(d.at(ConfigOffset::Amplifier + AmplifierByte::Modulation));
    const int item = ModulationItem(modulation);
    d.add("amplifier.modulation",
          item < 0 ? Unknown(modulation, 4) : kModulationValues[std::size_t(item)]);
}

void DescribeUart(Describer& d) {
    const std::uint8_t* block = d.at(ConfigOffset::Uart);
    const auto level = [&](const char* name, int code) {
        d.add(name, std::to_string(TriggerCharacters(TriggerCode(TriggerPosition(code)))) +
                        " characters");
    };
    level("uart.rx_trigger_level", RxTriggerCode(block[UartByte::Levels]));
    level("uart.tx_trigger_level", TxTriggerCode(block[UartByte::Levels]));
    const auto rate = RateOfDivisor(UartDivisor(block));
    d.add("uart.baud_rate", rate ? std::to_string(*rate) + " baud" : "invalid (divisor 0)");
    const std::uint8_t format = block[UartByte::Format];
    d.add("uart.data_bits", std::to_string(DataBits(format)));
    d.add("uart.stop_bits", StopBitsText(format));
    d.add("uart.parity", kParityNames[std::size_t(ParityItem(format))]);
}

void DescribeBoardInfo(Describer& d) {
    const std::uint8_t model = d.byte(ConfigOffset::Model);
    std::string variant = VariantName(model);
    if (model > 1) variant += " (model byte " + Hex(model, 2) + ")";
    d.add("board.model", variant);
    // The letter the description window shows, escaped like every text field.
    const std::uint8_t letter = RevisionLetter(d.byte(ConfigOffset::PcbRevision));
    d.add("board.pcb_revision", kRevisionPrefix + EscapedText(&letter, 1));
    const auto text = [&](const char* name, std::size_t offset, std::size_t width) {
        d.add(name, EscapedText(d.at(offset), width));
    };
    text("board.software_version", ConfigOffset::SoftwareVersion, ConfigLength::SoftwareVersion);
    text("board.serial", ConfigOffset::Serial, ConfigLength::Serial);
    text("board.date", ConfigOffset::Date, ConfigLength::Date);
    text("board.description", ConfigOffset::Description, ConfigLength::Description);
}

}  // namespace

std::vector<FieldDescription> DescribeSnapshot(const ConfigSnapshot& snapshot, const TCrc& crc) {
    Describer d(snapshot);
    d.add("crc", CrcText(StoredCrc(snapshot)));
    d.add("crc_ok", StoredCrc(snapshot) == ComputeCrc(crc, snapshot) ? "yes" : "no");
    DescribeCodec(d);
    DescribeVocoder(d);
    DescribeRecorder(d, snapshot.model());
    DescribeAmplifier(d);
    DescribeUart(d);
    DescribeBoardInfo(d);
    d.add("die_id", DeviceIdText(d.at(ConfigOffset::DieId)));
    d.add("chip_id", DeviceIdText(d.at(ConfigOffset::ChipId)));
    return d.take();
}

std::vector<FieldDifference> DiffSnapshots(const ConfigSnapshot& a, const ConfigSnapshot& b,
                                           const TCrc& crc) {
    const std::vector<FieldDescription> first = DescribeSnapshot(a, crc);
    const std::vector<FieldDescription> second = DescribeSnapshot(b, crc);
    std::vector<FieldDifference> differences;
    // Both lists name the same fields in the same order.
    for (std::size_t i = 0; i < first.size() && i < second.size(); ++i) {
        if (first[i].value != second[i].value) {
            differences.push_back({first[i].name, first[i].value, second[i].value});
        }
    }
    return differences;
}
