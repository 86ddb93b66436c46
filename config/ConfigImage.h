#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
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
                      Serial = 62, Date = 66, Description = 76, DeviceIds = 140, DieId = 140,
                      ChipId = 148;
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

// The blocks of a snapshot as the windows edit them, each of its own length and so of its own
// type: a window can be handed only its block, and only ConfigSnapshot places it.
using CodecBlock = std::span<std::uint8_t, ConfigLength::Codec>;
using VocoderBlock = std::span<std::uint8_t, ConfigLength::Vocoder>;
using RecorderBlock = std::span<std::uint8_t, ConfigLength::Recorder>;
using AmplifierBlock = std::span<std::uint8_t, ConfigLength::Amplifier>;
using UartBlock = std::span<std::uint8_t, ConfigLength::Uart>;
using BoardInfoBlock = std::span<std::uint8_t, ConfigLength::BoardInfo>;
using BoardInfoView = std::span<const std::uint8_t, ConfigLength::BoardInfo>;
using DeviceIdsView = std::span<const std::uint8_t, ConfigLength::DeviceIds>;

// Where each field of the board information block sits inside the block.
struct BoardInfoField {
    std::size_t at, width;

    std::span<std::uint8_t> of(BoardInfoBlock block) const { return block.subspan(at, width); }
    std::span<const std::uint8_t> of(BoardInfoView block) const { return block.subspan(at, width); }
};
namespace BoardInfoFields {
constexpr std::size_t Model = 0, PcbRevision = 1;
constexpr BoardInfoField SoftwareVersion{ConfigOffset::SoftwareVersion - ConfigOffset::BoardInfo,
                                         ConfigLength::SoftwareVersion},
    Serial{ConfigOffset::Serial - ConfigOffset::BoardInfo, ConfigLength::Serial},
    Date{ConfigOffset::Date - ConfigOffset::BoardInfo, ConfigLength::Date},
    Description{ConfigOffset::Description - ConfigOffset::BoardInfo, ConfigLength::Description};
}  // namespace BoardInfoFields

struct ConfigSnapshot {
    std::array<std::uint8_t, kSnapshotSize> bytes{};

    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
    // Decides the board variant everywhere: 0 is K-350A, 1 is K-350B.
    std::uint8_t model() const { return bytes[ConfigOffset::Model]; }

    CodecBlock codec() { return block<ConfigOffset::Codec, ConfigLength::Codec>(); }
    VocoderBlock vocoder() { return block<ConfigOffset::Vocoder, ConfigLength::Vocoder>(); }
    RecorderBlock recorder() { return block<ConfigOffset::Recorder, ConfigLength::Recorder>(); }
    AmplifierBlock amplifier() { return block<ConfigOffset::Amplifier, ConfigLength::Amplifier>(); }
    UartBlock uart() { return block<ConfigOffset::Uart, ConfigLength::Uart>(); }
    BoardInfoBlock boardInfo() { return block<ConfigOffset::BoardInfo, ConfigLength::BoardInfo>(); }
    BoardInfoView boardInfo() const {
        return std::span(bytes).subspan<ConfigOffset::BoardInfo, ConfigLength::BoardInfo>();
    }
    DeviceIdsView deviceIds() const {
        return std::span(bytes).subspan<ConfigOffset::DeviceIds, ConfigLength::DeviceIds>();
    }

    // A block at its fixed place; the bounds are checked when the program is compiled.
    template <std::size_t Offset, std::size_t Length>
    std::span<std::uint8_t, Length> block() {
        return std::span(bytes).template subspan<Offset, Length>();
    }
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
