// The conversions of the settings windows between stored bytes, track bar
// positions and the texts of their value labels. Free of widgets so that
// every rule can be pinned to numbers.
#pragma once

#include <QString>
#include <cstdint>
#include <span>

namespace SettingsRules {

// Words inside the record: the recorder and vocoder blocks are big-endian,
// the LF amplifier block little-endian.
std::uint16_t ReadBigEndian(const std::uint8_t* bytes);
void WriteBigEndian(std::uint8_t* bytes, std::uint16_t value);
std::uint16_t ReadLittleEndian(const std::uint8_t* bytes);
void WriteLittleEndian(std::uint8_t* bytes, std::uint16_t value);
// A block of big-endian words (recorder, vocoder) to and from native words.
void ReadBigEndianWords(const std::uint8_t* bytes, std::span<std::uint16_t> words);
void WriteBigEndianWords(std::uint8_t* bytes, std::span<const std::uint16_t> words);

// A number in its shortest form with the locale's decimal separator, a plus
// sign before positive values and none before zero.
QString SignedNumberLabel(double value);

// Codec line input volume: bar 0..31, top (0) is +12 dB, code 23 is 0 dB.
constexpr int kInputBarMax = 31;
int InputGainPosition(std::uint8_t storedByte);
std::uint8_t InputGainCode(int position);
double InputGainDb(int position);

// Codec headphone volume: bar 48..127, top (48) is +6 dB, code 121 is 0 dB.
constexpr int kOutputBarMin = 48, kOutputBarMax = 127;
int OutputGainPosition(std::uint8_t storedByte);
std::uint8_t OutputGainCode(int position);
int OutputGainDb(int position);

// Codec sample rate: the six items of the rate group.
constexpr int kSampleItemCount = 6;
std::uint8_t SampleRateCode(int item);
// The item whose code has the same bits 5..1 as the stored byte, or -1.
int SampleRateItem(std::uint8_t storedByte);

// LF amplifier volume: bar 0..63, top (0) is code 63, the loudest.
constexpr int kVolumeBarMax = 63;
int VolumePosition(std::uint16_t storedWord);
std::uint16_t VolumeCode(int position);
float AmplifierGainDb(int code);       // the amplifier's table, single precision
QString AmplifierGainLabel(int code);  // three significant digits, one decimal shown

// Recorder channel gains: bar 0..31, a linear factor from 32767 (top) down in
// steps of 1.5 dB, computed in single precision as the board firmware does.
constexpr int kGainBarMax = 31;
constexpr std::uint16_t kLowestGain = 155;
std::uint16_t RecorderGainValue(int position);
int RecorderGainPosition(std::uint16_t storedWord);
double RecorderGainDb(int position);

// Recorder RX level: bar 0..63, top (0) is 252, steps of 4.
constexpr int kRxLevelBarMax = 63;
std::uint16_t RxLevelValue(int position);
int RxLevelPosition(std::uint16_t storedWord);

// Vocoder coding rate: items 0..6 are codes 2..8.
constexpr int kVocoderItemCount = 7;
std::uint16_t VocoderCode(int item);
// A stored code above 8 (read as signed) becomes 8; others stay.
std::uint16_t LimitedVocoderCode(std::uint16_t storedWord);
// The item of a code, or -1 when the code is below 2.
int VocoderItem(std::uint16_t code);

}  // namespace SettingsRules
