#include "editors/SettingsConversions.h"

#include <QLocale>
#include <algorithm>
#include <array>
#include <cmath>

namespace SettingsRules {

std::uint16_t ReadBigEndian(const std::uint8_t* bytes) {
    return std::uint16_t(bytes[0] << 8 | bytes[1]);
}

void WriteBigEndian(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = std::uint8_t(value >> 8);
    bytes[1] = std::uint8_t(value);
}

std::uint16_t ReadLittleEndian(const std::uint8_t* bytes) {
    return std::uint16_t(bytes[1] << 8 | bytes[0]);
}

void WriteLittleEndian(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = std::uint8_t(value);
    bytes[1] = std::uint8_t(value >> 8);
}

void ReadBigEndianWords(const std::uint8_t* bytes, std::span<std::uint16_t> words) {
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = ReadBigEndian(bytes + 2 * i);
}

void WriteBigEndianWords(std::uint8_t* bytes, std::span<const std::uint16_t> words) {
    for (std::size_t i = 0; i < words.size(); ++i) WriteBigEndian(bytes + 2 * i, words[i]);
}

namespace {
QString WithSign(double value, const QString& digits) {
    return value > 0 ? QLocale().positiveSign() + digits : digits;
}
}  // namespace

QString SignedNumberLabel(double value) {
    return WithSign(value, QLocale().toString(value, 'g', QLocale::FloatingPointShortest));
}

// --- codec ---------------------------------------------------------------------

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

namespace {
constexpr std::array<std::uint8_t, kSampleItemCount> kSampleRateCodes = {0x1E, 0x02, 0x1A,
                                                                         0x0E, 0x06, 0x0A};
}

std::uint8_t SampleRateCode(int item) {
    return kSampleRateCodes.at(std::size_t(item));
}

int SampleRateItem(std::uint8_t storedByte) {
    const int rateBits = (storedByte >> 1) & 0x1F;
    for (int item = 0; item < kSampleItemCount; ++item) {
        if (kSampleRateCodes[std::size_t(item)] >> 1 == rateBits) return item;
    }
    return -1;
}

// --- LF amplifier ----------------------------------------------------------------

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

QString AmplifierGainLabel(int code) {
    const double rounded = ToThreeSignificantDigits(AmplifierGainDb(code));
    return WithSign(rounded, QLocale().toString(rounded, 'f', 1));
}

// --- recorder ------------------------------------------------------------------

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

// --- vocoder -------------------------------------------------------------------

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

}  // namespace SettingsRules
