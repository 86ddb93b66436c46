#include "config/ConfigImage.h"

#include <algorithm>

#include "config/ByteOrder.h"
#include "config/Cp1251.h"

namespace {

constexpr std::uint16_t kCrcStart = 0xFFFF;

// Register writes of the codec: the fixed addresses and data with the reset values of the
// adjustable bits (0 dB gains, filter on, 8/8 kHz, line input, microphone muted, DAC selected,
// line amplifier powered, oscillator off).
constexpr std::array<std::uint8_t, ConfigLength::Codec> kDefaultCodec = {
    0x1E, 0x00,  // reset
    0x0C, 0x22,  // power-down control
    0x08, 0x12,  // analogue audio path
    0x0A, 0x00,  // digital audio path
    0x10, 0x0E,  // sample rate 8/8 kHz
    0x00, 0x17,  // left line input, 0 dB
    0x02, 0x17,  // right line input, 0 dB
    0x04, 0x79,  // left headphone, 0 dB
    0x06, 0x79,  // right headphone, 0 dB
    0x0E, 0x43,  // interface format
    0x12, 0x01,  // interface activation
};

// Big-endian words: coding rate code 8 ("17600"), two reserved words.
constexpr std::array<std::uint8_t, ConfigLength::Vocoder> kDefaultVocoder = {0x00, 0x08, 0x00,
                                                                             0x00, 0x00, 0x00};

// Big-endian words: flags 0x0007, microphone and receiver gain 4125, RX level 144.
constexpr std::array<std::uint8_t, ConfigLength::Recorder> kDefaultRecorder = {
    0x00, 0x07, 0x10, 0x1D, 0x10, 0x1D, 0x00, 0x90};

// Little-endian words: volume code 46, modulation 0xD6.
constexpr std::array<std::uint8_t, ConfigLength::Amplifier> kDefaultAmplifier = {46, 0x00, 0xD6,
                                                                                 0x00};

// 9600 baud (divisor 120), 8 data bits, 1 stop bit, no parity, FIFO trigger levels of 60.
constexpr std::size_t kUartTriggers = 43 - ConfigOffset::Uart;
constexpr std::size_t kUartDivisorLow = 47 - ConfigOffset::Uart;
constexpr std::size_t kUartDivisorHigh = 49 - ConfigOffset::Uart;
constexpr std::size_t kUartLineControl = 55 - ConfigOffset::Uart;

std::array<std::uint8_t, ConfigLength::Uart> DefaultUart() {
    std::array<std::uint8_t, ConfigLength::Uart> uart{};
    uart[kUartTriggers] = 0xFF;
    uart[kUartDivisorLow] = 120;
    uart[kUartDivisorHigh] = 0;
    uart[kUartLineControl] = 0x03;
    return uart;
}

template <std::size_t N>
void Put(ConfigSnapshot& snapshot, std::size_t offset, const std::array<std::uint8_t, N>& block) {
    std::copy(block.begin(), block.end(), snapshot.bytes.begin() + offset);
}

void PutText(ConfigSnapshot& snapshot, std::size_t offset, std::size_t width,
             const std::string& utf8) {
    WriteTextField(snapshot.data() + offset, width, utf8);
}

constexpr std::uint8_t kDefaultModel = 0;        // K-350A
constexpr std::uint8_t kDefaultPcbRevision = 1;  // "B"

}  // namespace

std::uint16_t ComputeCrc(const TCrc& crc, const ConfigSnapshot& snapshot) {
    std::uint16_t running = kCrcStart;
    crc.Calculate(snapshot.data() + ConfigLength::Crc, running, ConfigLength::CrcCovered);
    return running;
}

void RefreshCrc(const TCrc& crc, ConfigSnapshot& snapshot) {
    const std::uint16_t value = ComputeCrc(crc, snapshot);
    WriteLittleEndian(&snapshot.bytes[ConfigOffset::Crc], value);
}

std::uint16_t StoredCrc(const ConfigSnapshot& snapshot) {
    return ReadLittleEndian(&snapshot.bytes[ConfigOffset::Crc]);
}

std::uint32_t WriteExtent(ServiceLevel level) {
    const std::size_t extent =
        level == ServiceLevel::FullService ? kImageSize : ConfigLength::Settings;
    return static_cast<std::uint32_t>(extent);
}

ConfigSnapshot MakeBlankSnapshot(const TCrc& crc, const std::string& todayDate) {
    ConfigSnapshot snapshot;
    Put(snapshot, ConfigOffset::Codec, kDefaultCodec);
    Put(snapshot, ConfigOffset::Vocoder, kDefaultVocoder);
    Put(snapshot, ConfigOffset::Recorder, kDefaultRecorder);
    Put(snapshot, ConfigOffset::Amplifier, kDefaultAmplifier);
    Put(snapshot, ConfigOffset::Uart, DefaultUart());
    snapshot.bytes[ConfigOffset::Model] = kDefaultModel;
    snapshot.bytes[ConfigOffset::PcbRevision] = kDefaultPcbRevision;
    PutText(snapshot, ConfigOffset::SoftwareVersion, ConfigLength::SoftwareVersion, "0000");
    PutText(snapshot, ConfigOffset::Serial, ConfigLength::Serial, "0000");
    PutText(snapshot, ConfigOffset::Date, ConfigLength::Date, todayDate);
    PutText(snapshot, ConfigOffset::Description, ConfigLength::Description, "");
    RefreshCrc(crc, snapshot);
    return snapshot;
}
