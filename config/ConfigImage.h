#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "config/Crc.h"
#include "config/ServiceLevel.h"

// The board keeps its configuration as a 140-byte record (the image) in its EEPROM from address 0.
// The terminal handles it together with the 16 identification bytes of the board it came from as
// one 156-byte snapshot: what a read delivers, what the main window holds and what a file holds.
constexpr std::size_t kImageSize = 140, kSnapshotSize = 156;

// Offsets into the snapshot (equal to EEPROM addresses below kImageSize).
namespace ConfigOffset {
constexpr std::size_t Crc = 0, Codec = 2, Vocoder = 24, Recorder = 30, Amplifier = 38, Uart = 42,
                      BoardInfo = 56, Model = 56, PcbRevision = 57, SoftwareVersion = 58,
                      Serial = 62, Date = 66, Description = 76, DieId = 140, ChipId = 148;
}  // namespace ConfigOffset

namespace ConfigLength {
constexpr std::size_t Crc = 2, Codec = 22, Vocoder = 6, Recorder = 8, Amplifier = 4, Uart = 14,
                      BoardInfo = 84, Model = 1, PcbRevision = 1, SoftwareVersion = 4, Serial = 4,
                      Date = 10, Description = 64, DieId = 8, ChipId = 8, DeviceIds = 16;
// The settings part (CRC word and the five settings blocks); the board information follows it.
constexpr std::size_t Settings = 56;
// The bytes the CRC covers: everything of the image after the CRC word.
constexpr std::size_t CrcCovered = kImageSize - Crc;
}  // namespace ConfigLength

struct ConfigSnapshot {
    std::array<std::uint8_t, kSnapshotSize> bytes{};

    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
    // Decides the board variant everywhere: 0 is K-350A, 1 is K-350B.
    std::uint8_t model() const { return bytes[ConfigOffset::Model]; }
};
static_assert(std::is_trivially_copyable_v<ConfigSnapshot>);
static_assert(sizeof(ConfigSnapshot) == kSnapshotSize);

// CRC over bytes 2..139, in one call from 0xFFFF.
std::uint16_t ComputeCrc(const TCrc& crc, const ConfigSnapshot& snapshot);
// Stores ComputeCrc in bytes 0 and 1, least significant byte first.
void RefreshCrc(const TCrc& crc, ConfigSnapshot& snapshot);
// The CRC word as stored in bytes 0 and 1.
std::uint16_t StoredCrc(const ConfigSnapshot& snapshot);

// How many bytes from address 0 a configuration write sends: below full service level the board
// keeps its own board information.
std::uint32_t WriteExtent(ServiceLevel level);

// The configuration offered at full service level when none exists: every settings block at the
// values its window resets to, model K-350A, PCB revision "B", version and serial "0000", the date
// text given (the record's dd.mm.yyyy form), empty description, zero IDs and a valid CRC word.
ConfigSnapshot MakeBlankSnapshot(const TCrc& crc, const std::string& todayDate);
