#include "config/RecordRules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "config/Cp1251.h"

namespace RecordRules {

std::string SignedNumberText(double value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    const std::string text(digits, end);
    return value > 0 ? "+" + text : text;
}

// --- audio codec -----------------------------------------------------------------------

int InputGainPosition(std::uint8_t storedByte) {
    return kInputBarMax - (storedByte & 0x1F);
}

std::uint8_t InputGainCode(int position) {
    return std::uint8_t(kInputBarMax - position);
}

double InputGainDb(int position) {
    return (InputGainCode(position) - 23) * 1.5;
}

int OutputGainPosition(std::uint8_t storedByte) {
    // Bit 7 is not part of the code; codes below 48 load at the top.
    const int position = (kOutputBarMin + kOutputBarMax - storedByte) & 0x7F;
    return std::clamp(position, kOutputBarMin, kOutputBarMax);
}

std::uint8_t OutputGainCode(int position) {
    return std::uint8_t(kOutputBarMin + kOutputBarMax - position);
}

int OutputGainDb(int position) {
    return OutputGainCode(position) - 121;
}

const std::array<SampleRateItemInfo, kSampleItemCount> kSampleRates = {{
    {0x1E, "96/96 кГц", "96/96 kHz"},
    {0x02, "48/48 кГц", "48/48 kHz"},
    {0x1A, "32/32 кГц", "32/32 kHz"},
    {0x0E, "  8/8   кГц", "8/8 kHz"},
    {0x06, "48/8  кГц", "48/8 kHz"},
    {0x0A, "8/48  кГц", "8/48 kHz"},
}};

std::uint8_t SampleRateCode(int item) {
    return kSampleRates.at(std::size_t(item)).code;
}

int SampleRateItem(std::uint8_t storedByte) {
    const int rateBits = (storedByte >> 1) & 0x1F;
    for (int item = 0; item < kSampleItemCount; ++item) {
        if (kSampleRates[std::size_t(item)].code >> 1 == rateBits) return item;
    }
    return -1;
}

const std::array<const char*, kDeemphasisItemCount> kDeemphasisCaptions = {"Откл.", "32 кГц",
                                                                           "44.1 кГц", "48 кГц"};
const std::array<const char*, kDeemphasisItemCount> kDeemphasisValues = {"off", "32 kHz",
                                                                         "44.1 kHz", "48 kHz"};

int DeemphasisItem(std::uint8_t digitalPath) {
    return (digitalPath & kDeemphasisBits) >> 1;
}

std::uint8_t WithDeemphasis(std::uint8_t digitalPath, int item) {
    return std::uint8_t((digitalPath & ~kDeemphasisBits) | ((item << 1) & kDeemphasisBits));
}

// --- LF amplifier ----------------------------------------------------------------------

int VolumePosition(std::uint16_t storedWord) {
    return kVolumeBarMax - (storedWord & 0x3F);
}

std::uint16_t VolumeCode(int position) {
    return std::uint16_t(kVolumeBarMax - position);
}

namespace {
constexpr std::array<float, 64> kAmplifierGainDb = {
    -161.5f, -92.8f, -90.3f, -86.8f, -84.3f, -80.8f, -78.3f, -74.7f,  //
    -72.2f,  -68.7f, -66.2f, -62.7f, -60.2f, -56.7f, -54.2f, -50.6f,  //
    -48.1f,  -45.6f, -43.7f, -42.1f, -39.6f, -37.6f, -36.0f, -33.4f,  //
    -31.5f,  -29.8f, -27.2f, -25.2f, -23.5f, -21.6f, -19.7f, -17.5f,  //
    -16.4f,  -15.4f, -14.4f, -13.1f, -12.0f, -10.9f, -9.9f,  -8.9f,   //
    -7.1f,   -6.0f,  -5.0f,  -3.4f,  -1.9f,  -0.5f,  0.5f,   1.2f,    //
    1.6f,    2.0f,   2.4f,   2.9f,   3.4f,   3.9f,   4.4f,   4.9f,    //
    5.4f,    5.9f,   6.5f,   7.0f,   7.6f,   8.2f,   8.8f,   9.5f,
};

// Rounds to three significant digits, a trailing 5 away from zero.
double ToThreeSignificantDigits(double value) {
    if (value == 0) return 0;
    const double scale = std::pow(10.0, 2 - std::floor(std::log10(std::fabs(value))));
    return std::round(value * scale) / scale;
}
}  // namespace

float AmplifierGainDb(int code) {
    return kAmplifierGainDb.at(std::size_t(code & 0x3F));
}

double AmplifierGainShown(int code) {
    return ToThreeSignificantDigits(AmplifierGainDb(code));
}

const std::array<const char*, 2> kModulationCaptions = {"СДМ", "ШИМ"};
const std::array<const char*, 2> kModulationValues = {"SDM", "PWM"};

std::uint16_t ModulationWord(int item) {
    return item == 1 ? kPwm : kSdm;
}

int ModulationItem(std::uint16_t storedWord) {
    if (storedWord == kSdm) return 0;
    if (storedWord == kPwm) return 1;
    return -1;
}

// --- recorder ----------------------------------------------------------------------------

bool HasVolumeRegulator(std::uint8_t model) {
    return model == 0;
}

namespace {
constexpr float kTopGain = 32767.0f;
constexpr double kGainStepDown = 0.84139671855279772;  // 1 / 1.1885, -1.5 dB
constexpr double kGainStepUp = 1.1885;
}  // namespace

std::uint16_t RecorderGainValue(int position) {
    float gain = kTopGain;
    for (int step = 0; step < position; ++step) gain = float(gain * kGainStepDown);
    return std::uint16_t(int(gain) & 0x7FFF);
}

int RecorderGainPosition(std::uint16_t storedWord) {
    float gain = std::max(float(std::int16_t(storedWord)), float(kLowestGain));
    int steps = 0;
    while (gain < kTopGain) {
        gain = float(gain * kGainStepUp);
        ++steps;
    }
    return std::clamp(steps - 1, 0, kGainBarMax);
}

double RecorderGainDb(int position) {
    return (12 - position) * 1.5;
}

std::uint16_t RxLevelValue(int position) {
    return std::uint16_t(((kRxLevelBarMax - position) * 4) & 0xFF);
}

int RxLevelPosition(std::uint16_t storedWord) {
    return (kRxLevelBarMax - (std::int16_t(storedWord) >> 2)) & 0x3F;
}

// --- vocoder -------------------------------------------------------------------------------

const std::array<int, kVocoderItemCount> kVocoderRates = {6000,  7200,  8000, 11000,
                                                          11800, 14400, 17600};

std::uint16_t VocoderCode(int item) {
    return std::uint16_t(item + 2);
}

std::uint16_t LimitedVocoderCode(std::uint16_t storedWord) {
    return std::int16_t(storedWord) > 8 ? 8 : storedWord;
}

int VocoderItem(std::uint16_t code) {
    const int signedCode = std::int16_t(code);
    return signedCode >= 2 && signedCode <= 8 ? signedCode - 2 : -1;
}

// --- UART ----------------------------------------------------------------------------------

int RxTriggerCode(std::uint8_t levels) {
    return levels >> 4;
}

int TxTriggerCode(std::uint8_t levels) {
    return levels & 0x0F;
}

std::uint8_t WithRxTriggerCode(std::uint8_t levels, int code) {
    return std::uint8_t((levels & 0x0F) | ((code & 0x0F) << 4));
}

std::uint8_t WithTxTriggerCode(std::uint8_t levels, int code) {
    return std::uint8_t((levels & 0xF0) | (code & 0x0F));
}

int TriggerPosition(int code) {
    return std::clamp(kTopTriggerCode - code, 0, kLastTriggerPosition);
}

int TriggerCode(int position) {
    return kTopTriggerCode - position;
}

int TriggerCharacters(int code) {
    return 4 * code;
}

std::uint16_t UartDivisor(const std::uint8_t* block) {
    return std::uint16_t(block[UartByte::DivisorLow] | block[UartByte::DivisorHigh] << 8);
}

void StoreUartDivisor(std::uint8_t* block, std::uint16_t divisor) {
    block[UartByte::DivisorLow] = std::uint8_t(divisor & 0xFF);
    block[UartByte::DivisorHigh] = std::uint8_t(divisor >> 8);
}

std::optional<std::uint32_t> RateOfDivisor(std::uint16_t divisor) {
    if (divisor == 0) return std::nullopt;
    return kUartClockDivided / divisor;
}

std::optional<std::uint16_t> DivisorOfRate(std::uint32_t rate) {
    const std::uint32_t divisor = rate > 0 ? kUartClockDivided / rate : 0;
    if (divisor == 0 || divisor > 0xFFFF) return std::nullopt;
    return std::uint16_t(divisor);
}

int DataBits(std::uint8_t format) {
    return (format & kDataBitsField) + 5;
}

std::uint8_t WithDataBits(std::uint8_t format, int bits) {
    return std::uint8_t((format & ~kDataBitsField) | ((bits - 5) & kDataBitsField));
}

const char* StopBitsText(std::uint8_t format) {
    if (!(format & kStopBit)) return "1";
    return (format & kDataBitsField) ? "2" : "1.5";
}

const std::array<const char*, kParityItemCount> kParityNames = {"None", "Even", "Odd", "Mark",
                                                                "Space"};
namespace {
constexpr std::array<std::uint8_t, kParityItemCount> kParityCodes = {0x00, 0x08, 0x18, 0x28, 0x38};
}

int ParityItem(std::uint8_t format) {
    const auto found = std::find(kParityCodes.begin(), kParityCodes.end(), format & kParityField);
    return found == kParityCodes.end() ? 0 : int(found - kParityCodes.begin());
}

std::uint8_t ParityCode(int item) {
    return kParityCodes.at(std::size_t(item));
}

// --- board information -----------------------------------------------------------------------

const std::array<const char*, 2> kModelNames = {"K-350A", "K-350B"};
const std::array<const char*, 4> kRevisionNames = {"A", "B", "C", "D"};

const char* VariantName(std::uint8_t model) {
    return model == 0 ? kModelNames[0] : kModelNames[1];
}

std::uint8_t RevisionLetter(std::uint8_t revision) {
    return std::uint8_t('A' + revision);
}

std::string RevisionText(std::uint8_t revision) {
    const std::uint8_t letter = RevisionLetter(revision);
    return kRevisionPrefix + ReadTextField(&letter, 1);
}

std::string DeviceIdText(const std::uint8_t* eightBytes) {
    std::string text = "0x";
    char digits[3];
    for (std::size_t i = 0; i < 8; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", unsigned(eightBytes[i]));
        text += digits;
    }
    return text;
}

std::string CrcText(std::uint16_t crc) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "0x%04X", unsigned(crc));
    return digits;
}

namespace {
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}
}  // namespace

std::string ShownLineBreaks(std::string stored) {
    return ReplaceAll(std::move(stored), "\r\n", "\n");
}

std::string StoredLineBreaks(std::string shown) {
    return ReplaceAll(std::move(shown), "\n", "\r\n");
}

}  // namespace RecordRules
