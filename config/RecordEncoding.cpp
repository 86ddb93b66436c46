#include "config/RecordEncoding.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <optional>

#include "config/Cp1251.h"
#include "config/RecordDate.h"
#include "config/RecordDescription.h"
#include "config/RecordRules.h"

using namespace RecordRules;

namespace {

using Store = std::function<void(ConfigSnapshot&, int position)>;

// A field whose window offers a fixed set of positions (a bar, a list, a check box). The value
// each position means is found by describing the record with it stored, so `show` stays the one
// home of how a value is written.
struct DiscreteField {
    const char* name;
    int first, last;  // positions
    Store store;
};

std::uint8_t& At(ConfigSnapshot& s, std::size_t offset) {
    return s.bytes[offset];
}

void SetBit(ConfigSnapshot& s, std::size_t offset, std::uint8_t mask, bool set) {
    At(s, offset) = set ? std::uint8_t(At(s, offset) | mask) : std::uint8_t(At(s, offset) & ~mask);
}

Store Bit(std::size_t offset, std::uint8_t mask, bool setWhenOn) {
    return [=](ConfigSnapshot& s, int on) { SetBit(s, offset, mask, bool(on) == setWhenOn); };
}

Store Byte(std::size_t offset, std::uint8_t (*code)(int)) {
    return [=](ConfigSnapshot& s, int position) { At(s, offset) = code(position); };
}

Store RecorderWordStore(RecorderWord index, std::uint16_t (*value)(int)) {
    return [=](ConfigSnapshot& s, int position) {
        WriteBigEndian(s.data() + ConfigOffset::Recorder + 2 * index, value(position));
    };
}

Store RecorderFlag(std::uint16_t mask) {
    return [=](ConfigSnapshot& s, int on) {
        std::uint8_t* word = s.data() + ConfigOffset::Recorder + 2 * Flags;
        const std::uint16_t flags = ReadBigEndian(word);
        WriteBigEndian(word, on ? std::uint16_t(flags | mask) : std::uint16_t(flags & ~mask));
    };
}

Store UartFormat(std::uint8_t mask, std::uint8_t (*bits)(int)) {
    return [=](ConfigSnapshot& s, int position) {
        std::uint8_t& format = At(s, ConfigOffset::Uart + UartByte::Format);
        format = std::uint8_t((format & ~mask) | (bits(position) & mask));
    };
}

Store UartLevels(std::uint8_t (*with)(std::uint8_t, int)) {
    return [=](ConfigSnapshot& s, int position) {
        std::uint8_t& levels = At(s, ConfigOffset::Uart + UartByte::Levels);
        levels = with(levels, TriggerCode(position));
    };
}

const std::vector<DiscreteField>& DiscreteFields() {
    using namespace CodecByte;
    static const std::vector<DiscreteField> fields{
        {"codec.line_input_power", 0, 1, Bit(Power, kLineInputPowerDown, false)},
        {"codec.microphone_power", 0, 1, Bit(Power, kMicrophonePowerDown, false)},
        {"codec.input_select", 0, 1, Bit(AudioPath, kMicrophoneInput, true)},
        {"codec.microphone_mute", 0, 1, Bit(AudioPath, kMicrophoneMute, true)},
        {"codec.microphone_boost", 0, 1, Bit(AudioPath, kMicrophoneBoost, true)},
        {"codec.adc_highpass", 0, 1, Bit(DigitalPath, kAdcHighPassOff, false)},
        {"codec.deemphasis", 0, kDeemphasisItemCount - 1,
         [](ConfigSnapshot& s, int item) {
             At(s, DigitalPath) = WithDeemphasis(At(s, DigitalPath), item);
         }},
        {"codec.sample_rate", 0, kSampleItemCount - 1, Byte(SampleRate, SampleRateCode)},
        {"codec.left_input_gain", 0, kInputBarMax, Byte(LeftInput, InputGainCode)},
        {"codec.right_input_gain", 0, kInputBarMax, Byte(RightInput, InputGainCode)},
        {"codec.left_output_gain", kOutputBarMin, kOutputBarMax, Byte(LeftOutput, OutputGainCode)},
        {"codec.right_output_gain", kOutputBarMin, kOutputBarMax,
         Byte(RightOutput, OutputGainCode)},
        {"vocoder.rate", 0, kVocoderItemCount - 1,
         [](ConfigSnapshot& s, int item) {
             WriteBigEndian(s.data() + ConfigOffset::Vocoder, VocoderCode(item));
         }},
        {"recorder.microphone", 0, 1, RecorderFlag(kMicFlag)},
        {"recorder.receiver", 0, 1, RecorderFlag(kRxFlag)},
        {"recorder.ptt_key", 0, 1, RecorderFlag(kPttButFlag)},
        {"recorder.tx_indicator", 0, 1, RecorderFlag(kTxLedFlag)},
        {"recorder.rx_display", 0, 1, RecorderFlag(kRxDisplFlag)},
        {"recorder.rx_indicator", 0, 1, RecorderFlag(kRxLedFlag)},
        {"recorder.volume_control", 0, 1, RecorderFlag(kRxCtrlFlag)},
        {"recorder.receiver_gain", 0, kGainBarMax,
         RecorderWordStore(RxGainWord, RecorderGainValue)},
        {"recorder.microphone_gain", 0, kGainBarMax,
         RecorderWordStore(MicGainWord, RecorderGainValue)},
        {"recorder.rx_level", 0, kRxLevelBarMax, RecorderWordStore(RxLevelWord, RxLevelValue)},
        {"amplifier.gain", 0, kVolumeBarMax,
         [](ConfigSnapshot& s, int position) {
             WriteLittleEndian(s.data() + ConfigOffset::Amplifier, VolumeCode(position));
         }},
        {"amplifier.modulation", 0, 1,
         [](ConfigSnapshot& s, int item) {
             WriteLittleEndian(s.data() + ConfigOffset::Amplifier + 2, ModulationWord(item));
         }},
        {"uart.rx_trigger_level", 0, kLastTriggerPosition, UartLevels(WithRxTriggerCode)},
        {"uart.tx_trigger_level", 0, kLastTriggerPosition, UartLevels(WithTxTriggerCode)},
        {"uart.data_bits", 5, 8,
         UartFormat(kDataBitsField, [](int bits) { return WithDataBits(0, bits); })},
        // The window's list offers "1", "1.5" and "2": anything but "1" sets the bit.
        {"uart.stop_bits", 0, 1,
         UartFormat(kStopBit, [](int two) { return std::uint8_t(two ? kStopBit : 0); })},
        {"uart.parity", 0, kParityItemCount - 1, UartFormat(kParityField, ParityCode)},
        {"board.model", 0, 1,
         [](ConfigSnapshot& s, int item) { At(s, ConfigOffset::Model) = std::uint8_t(item); }},
        {"board.pcb_revision", 0, 3,
         [](ConfigSnapshot& s, int item) {
             At(s, ConfigOffset::PcbRevision) = std::uint8_t(item);
         }},
    };
    return fields;
}

struct TextField {
    const char* name;
    std::size_t offset, width;
};
constexpr std::array<TextField, 3> kTextFields{{
    {"board.software_version", ConfigOffset::SoftwareVersion, ConfigLength::SoftwareVersion},
    {"board.serial", ConfigOffset::Serial, ConfigLength::Serial},
    {"board.description", ConfigOffset::Description, ConfigLength::Description},
}};

std::string Trimmed(std::string text) {
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

// The number a value starts with ("+1.5 dB", "9600 baud", "-3"), or nothing.
std::optional<double> LeadingNumber(const std::string& text) {
    const char* begin = text.data();
    if (!text.empty() && text[0] == '+') ++begin;
    double number = 0;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), number);
    if (error != std::errc() || end == begin) return std::nullopt;
    return number;
}

// A number followed by nothing or by the unit `show` prints after it.
bool SameValue(const std::string& typed, const std::string& shown) {
    if (typed == shown) return true;
    const auto a = LeadingNumber(typed), b = LeadingNumber(shown);
    if (!a || !b || std::fabs(*a - *b) > 1e-9) return false;
    const auto unit = [](const std::string& text) {
        const auto space = text.find(' ');
        return space == std::string::npos ? std::string() : text.substr(space + 1);
    };
    const std::string typedUnit = unit(typed);
    return typedUnit.empty() || typedUnit == unit(shown);
}

std::string ShownValue(const ConfigSnapshot& snapshot, const std::string& name, const TCrc& crc) {
    for (const FieldDescription& field : DescribeSnapshot(snapshot, crc)) {
        if (field.name == name) return field.value;
    }
    return {};
}

// What the positions show, for the refusal: every value of a short list, the two ends of a range.
std::string Allowed(const std::vector<std::string>& shown) {
    const bool numeric = std::all_of(shown.begin(), shown.end(), [](const std::string& s) {
        return LeadingNumber(s).has_value();
    });
    if (numeric && shown.size() > 8) {
        const auto [low, high] = std::minmax_element(
            shown.begin(), shown.end(),
            [](auto& a, auto& b) { return *LeadingNumber(a) < *LeadingNumber(b); });
        return "from " + *low + " to " + *high + " (" + std::to_string(shown.size()) + " steps)";
    }
    std::string list;
    std::vector<std::string> listed;
    for (const std::string& value : shown) {
        if (std::find(listed.begin(), listed.end(), value) != listed.end()) continue;
        listed.push_back(value);
        list += (list.empty() ? "" : ", ") + value;
    }
    return "one of " + list;
}

std::string SetDiscrete(ConfigSnapshot& snapshot, const DiscreteField& field,
                        const std::string& value, const TCrc& crc) {
    if (std::string_view(field.name) == "recorder.volume_control" &&
        !HasVolumeRegulator(snapshot.model())) {
        return "recorder.volume_control: K-350B has no volume regulator";
    }
    std::vector<std::string> shown;
    for (int position = field.first; position <= field.last; ++position) {
        ConfigSnapshot candidate = snapshot;
        field.store(candidate, position);
        shown.push_back(ShownValue(candidate, field.name, crc));
        if (SameValue(value, shown.back())) {
            snapshot = candidate;
            return {};
        }
    }
    return std::string(field.name) + ": \"" + value + "\" is not allowed; " + Allowed(shown);
}

// The escapes `show` prints (\\, \r, \n, \t, \xHH) back to bytes; nothing on a broken escape.
std::optional<std::string> Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                unsigned byte = 0;
                if (i + 2 >= text.size()) return std::nullopt;
                const auto [end, error] =
                    std::from_chars(text.data() + i + 1, text.data() + i + 3, byte, 16);
                if (error != std::errc() || end != text.data() + i + 3) return std::nullopt;
                out += char(byte);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

// A line break typed alone is stored as the windows store it, CR LF.
std::string WithStoredLineBreaks(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::string SetText(ConfigSnapshot& snapshot, const TextField& field, const std::string& value) {
    const auto text = Unescaped(value);
    if (!text) return std::string(field.name) + ": broken escape in \"" + value + "\"";
    const std::string stored = WithStoredLineBreaks(*text);
    if (const std::string character = FirstUnencodable(stored); !character.empty()) {
        return std::string(field.name) + ": " + character;
    }
    const std::vector<std::uint8_t> bytes = Utf8ToCp1251(stored);
    if (bytes.size() > field.width) {
        return std::string(field.name) + ": \"" + value + "\" is " + std::to_string(bytes.size()) +
               " characters long; at most " + std::to_string(field.width) +
               (field.width > 4 ? " (a line break counts as 2)" : "");
    }
    if (std::find(bytes.begin(), bytes.end(), 0) != bytes.end()) {
        return std::string(field.name) + ": a text cannot hold a zero byte";
    }
    WriteTextField(snapshot.data() + field.offset, field.width, stored);
    return {};
}

std::string SetDate(ConfigSnapshot& snapshot, const std::string& value) {
    const auto date = ParseRecordDate(value);
    if (!date || date->year > 9999) {
        return "board.date: \"" + value + "\" is no date; write it as dd.mm.yyyy";
    }
    WriteTextField(snapshot.data() + ConfigOffset::Date, ConfigLength::Date,
                   FormatRecordDate(*date));
    return {};
}

// The rates the divisor gives on either side of a rate it cannot give: one divisor more, and the
// divisor the window would store for the rate.
std::string NearestRates(std::uint32_t rate) {
    const std::uint16_t divisor = *DivisorOfRate(rate);
    const std::string above = std::to_string(*RateOfDivisor(divisor));
    if (divisor == 0xFFFF) return above;
    return std::to_string(*RateOfDivisor(std::uint16_t(divisor + 1))) + " and " + above;
}

// The window stores the divisor of the typed rate; a rate is set only where that divisor reads
// back as the same rate, so the record never holds another rate than the one asked for.
std::string SetBaudRate(ConfigSnapshot& snapshot, const std::string& value) {
    const auto number = LeadingNumber(value);
    const bool whole = number && *number == std::floor(*number) && *number > 0 &&
                       SameValue(value, std::to_string(std::uint64_t(*number)) + " baud");
    const auto divisor =
        whole ? DivisorOfRate(std::uint32_t(std::min(*number, 4e9))) : std::nullopt;
    if (!divisor) {
        return "uart.baud_rate: \"" + value + "\" is not allowed; an integer from " +
               std::to_string(kLowestRate) + " to " + std::to_string(kHighestRate) + " baud";
    }
    const auto rate = std::uint32_t(*number);
    if (*RateOfDivisor(*divisor) != rate) {
        return "uart.baud_rate: " + std::to_string(rate) +
               " baud cannot be stored exactly; the nearest rates the field holds are " +
               NearestRates(rate) + " baud";
    }
    StoreUartDivisor(snapshot.data() + ConfigOffset::Uart, *divisor);
    return {};
}

}  // namespace

std::string SetRecordField(ConfigSnapshot& snapshot, const std::string& name,
                           const std::string& rawValue, const TCrc& crc) {
    for (const DiscreteField& field : DiscreteFields()) {
        if (field.name == name) return SetDiscrete(snapshot, field, Trimmed(rawValue), crc);
    }
    for (const TextField& field : kTextFields) {
        if (field.name == name) return SetText(snapshot, field, rawValue);
    }
    if (name == "board.date") return SetDate(snapshot, Trimmed(rawValue));
    if (name == "uart.baud_rate") return SetBaudRate(snapshot, Trimmed(rawValue));
    if (name == "crc" || name == "crc_ok" || name == "die_id" || name == "chip_id") {
        return name + " cannot be set: " +
               (name.starts_with("crc") ? "it is computed when the file is written"
                                        : "it is the board's own");
    }
    return "no field named \"" + name + "\"; `show` prints the names";
}

std::vector<std::string> SettableFieldNames() {
    std::vector<std::string> names;
    for (const DiscreteField& field : DiscreteFields()) names.push_back(field.name);
    for (const TextField& field : kTextFields) names.push_back(field.name);
    names.push_back("board.date");
    names.push_back("uart.baud_rate");
    return names;
}
