// What the bytes of the configuration record mean: the rules between stored bytes, the positions
// and items of the settings windows, and the values they stand for. The windows and k350ctl both
// use them, so the terminal and the command line never disagree about a field; the windows add
// only their locale's number forms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "config/ByteOrder.h"

namespace RecordRules {

// A number in its shortest form with "." as decimal separator, a plus sign before positive
// values and none before zero: the C-locale form of the settings windows' value labels.
std::string SignedNumberText(double value);

// --- audio codec ---------------------------------------------------------------------
// Record offsets of the data bytes of the codec's register writes.
namespace CodecByte {
constexpr std::size_t Power = 5, AudioPath = 7, DigitalPath = 9, SampleRate = 11, LeftInput = 13,
                      RightInput = 15, LeftOutput = 17, RightOutput = 19;
}
// Power-down control: a set bit powers the part down.
constexpr std::uint8_t kLineInputPowerDown = 0x01, kMicrophonePowerDown = 0x02,
                       kOscillatorPowerDown = 0x20;
// Analogue audio path.
constexpr std::uint8_t kMicrophoneBoost = 0x01, kMicrophoneMute = 0x02, kMicrophoneInput = 0x04,
                       kDacSelected = 0x10;
// Digital audio path: a set bit 0 turns the ADC high-pass filter off.
constexpr std::uint8_t kAdcHighPassOff = 0x01, kDeemphasisBits = 0x06;

// Line input volume: bar 0..31, top (0) is +12 dB, code 23 is 0 dB.
constexpr int kInputBarMax = 31;
int InputGainPosition(std::uint8_t storedByte);
std::uint8_t InputGainCode(int position);
double InputGainDb(int position);

// Headphone volume: bar 48..127, top (48) is +6 dB, code 121 is 0 dB.
constexpr int kOutputBarMin = 48, kOutputBarMax = 127;
int OutputGainPosition(std::uint8_t storedByte);
std::uint8_t OutputGainCode(int position);
int OutputGainDb(int position);

// Sample rate: the six items of the rate group, with the window's caption and the ADC/DAC rates.
constexpr int kSampleItemCount = 6;
struct SampleRateItemInfo {
    std::uint8_t code;
    const char* caption;  // the window's text, UTF-8
    const char* rates;    // ADC/DAC
};
extern const std::array<SampleRateItemInfo, kSampleItemCount> kSampleRates;
std::uint8_t SampleRateCode(int item);
// The item whose code has the same bits 5..1 as the stored byte, or -1.
int SampleRateItem(std::uint8_t storedByte);

// De-emphasis: bits 2..1 of the digital path byte are the item.
constexpr int kDeemphasisItemCount = 4;
extern const std::array<const char*, kDeemphasisItemCount> kDeemphasisCaptions;  // UTF-8
extern const std::array<const char*, kDeemphasisItemCount> kDeemphasisValues;
int DeemphasisItem(std::uint8_t digitalPath);
std::uint8_t WithDeemphasis(std::uint8_t digitalPath, int item);

// --- LF amplifier ----------------------------------------------------------------------
// Offsets inside the amplifier block (two little-endian words).
namespace AmplifierByte {
constexpr std::size_t Volume = 0, Modulation = 2;
}
// Volume: bar 0..63, top (0) is code 63, the loudest.
constexpr int kVolumeBarMax = 63;
int VolumePosition(std::uint16_t storedWord);
std::uint16_t VolumeCode(int position);
float AmplifierGainDb(int code);  // the amplifier's table, single precision
// The table's entry rounded to three significant digits (a trailing 5 away from zero), the value
// the window shows with one decimal.
double AmplifierGainShown(int code);

// Modulation: the command byte of each item; any other stored word loads as item 0.
constexpr std::uint16_t kSdm = 0xD6, kPwm = 0xD5;
extern const std::array<const char*, 2> kModulationCaptions;  // UTF-8
extern const std::array<const char*, 2> kModulationValues;
std::uint16_t ModulationWord(int item);
// 0 for SDM, 1 for PWM, -1 for a word that is neither.
int ModulationItem(std::uint16_t storedWord);

// --- recorder --------------------------------------------------------------------------
// The four big-endian words of the block.
enum RecorderWord : std::size_t { Flags, RxGainWord, MicGainWord, RxLevelWord };
constexpr std::uint16_t kMicFlag = 0x01, kRxFlag = 0x02, kPttButFlag = 0x04, kTxLedFlag = 0x08,
                        kRxDisplFlag = 0x10, kRxLedFlag = 0x20, kRxCtrlFlag = 0x40;
// Only K-350A (model 0) has the volume regulator.
bool HasVolumeRegulator(std::uint8_t model);

// Channel gains: bar 0..31, a linear factor from 32767 (top) down in steps of 1.5 dB, computed
// in single precision as the board firmware does.
constexpr int kGainBarMax = 31;
constexpr std::uint16_t kLowestGain = 155;
std::uint16_t RecorderGainValue(int position);
int RecorderGainPosition(std::uint16_t storedWord);
double RecorderGainDb(int position);

// RX level: bar 0..63, top (0) is 252, steps of 4.
constexpr int kRxLevelBarMax = 63;
std::uint16_t RxLevelValue(int position);
int RxLevelPosition(std::uint16_t storedWord);

// --- vocoder ---------------------------------------------------------------------------
// Coding rate: items 0..6 are codes 2..8.
constexpr int kVocoderItemCount = 7;
extern const std::array<int, kVocoderItemCount> kVocoderRates;  // bit/s
std::uint16_t VocoderCode(int item);
// A stored code above 8 (read as signed) becomes 8; others stay.
std::uint16_t LimitedVocoderCode(std::uint16_t storedWord);
// The item of a code, or -1 when the code is below 2.
int VocoderItem(std::uint16_t code);

// --- UART ------------------------------------------------------------------------------
// Offsets inside the UART block (record bytes 42..55).
namespace UartByte {
constexpr std::size_t Levels = 1, DivisorLow = 5, DivisorHigh = 7, Format = 13;
}
constexpr std::uint32_t kUartClockDivided = 18432000 / 16;  // rate × divisor
constexpr std::uint16_t kDefaultDivisor = 120;              // 9600 baud
constexpr std::uint8_t kDataBitsField = 0x03, kStopBit = 0x04, kParityField = 0x38;

// FIFO trigger levels: code 1..15 is 4 × code characters; bar position p (0..14) is code 15 - p.
constexpr int kTopTriggerCode = 15, kLastTriggerPosition = 14;
int RxTriggerCode(std::uint8_t levels);
int TxTriggerCode(std::uint8_t levels);
std::uint8_t WithRxTriggerCode(std::uint8_t levels, int code);
std::uint8_t WithTxTriggerCode(std::uint8_t levels, int code);
// The bar cannot show code 0: it loads at the bottom, code 1.
int TriggerPosition(int code);
int TriggerCode(int position);
int TriggerCharacters(int code);

std::uint16_t UartDivisor(const std::uint8_t* block);
void StoreUartDivisor(std::uint8_t* block, std::uint16_t divisor);
// The rate a divisor gives; nothing for divisor 0.
std::optional<std::uint32_t> RateOfDivisor(std::uint16_t divisor);
// The divisor of a rate; nothing when the 16-bit divisor cannot express it (0 or out of range).
std::optional<std::uint16_t> DivisorOfRate(std::uint32_t rate);
constexpr std::uint32_t kLowestRate = kUartClockDivided / 0xFFFF + 1,
                        kHighestRate = kUartClockDivided;

int DataBits(std::uint8_t format);  // 5..8
std::uint8_t WithDataBits(std::uint8_t format, int bits);
// "1", "1.5" (5 data bits) or "2".
const char* StopBitsText(std::uint8_t format);
// Unnamed codes have parity disabled and count as None.
constexpr int kParityItemCount = 5;
extern const std::array<const char*, kParityItemCount> kParityNames;  // None Even Odd Mark Space
int ParityItem(std::uint8_t format);
std::uint8_t ParityCode(int item);

// --- board information -------------------------------------------------------------------
// The model and PCB revision lists of the board information editor.
extern const std::array<const char*, 2> kModelNames;
extern const std::array<const char*, 4> kRevisionNames;
// The variant a model byte means: "K-350A" for 0, "K-350B" for any other value.
const char* VariantName(std::uint8_t model);
// The PCB revision's letter: 0x41 + byte, wrapping (Windows-1251), so 0..3 read A..D.
std::uint8_t RevisionLetter(std::uint8_t revision);
// What comes before the letter wherever a revision is shown.
constexpr const char* kRevisionPrefix = "Rev.";
// The prefix and the letter, as the board information window shows them.
std::string RevisionText(std::uint8_t revision);
// "0x" followed by the eight bytes as 16 upper-case hexadecimal digits, first byte first.
std::string DeviceIdText(const std::uint8_t* eightBytes);
// "0x" followed by the word as 4 upper-case hexadecimal digits.
std::string CrcText(std::uint16_t crc);
// The record stores line breaks as CR LF; the windows show them as new lines.
std::string ShownLineBreaks(std::string stored);
std::string StoredLineBreaks(std::string shown);

}  // namespace RecordRules
