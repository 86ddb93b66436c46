// The board's SPI flash as the operations use it: reached through command 2 with word 3 = 4, its
// instruction codes, its geometry, and the status poll that waits while it is busy.
#pragma once

#include <cstdint>

#include "link/OperationResult.h"

class BoardLink;
class OperationObserver;

namespace SpiFlash {
constexpr std::uint16_t ChipSelect = 4;  // word 3 of every flash request

// Instruction codes, the first payload byte of a flash request.
constexpr std::uint8_t PageProgram = 0x02;
constexpr std::uint8_t ReadData = 0x03;
constexpr std::uint8_t StatusRead = 0x05;
constexpr std::uint8_t WriteEnable = 0x06;
constexpr std::uint8_t SectorErase = 0xD8;

constexpr std::uint8_t BusyBit = 0x01;  // status register: a write or erase is in progress

constexpr std::uint32_t PageSize = 256;
constexpr std::uint32_t SectorSize = 0x8000;
// What the download programs and the read-back reads: nothing at or beyond it.
constexpr std::uint32_t ProgramLimit = 0x20000;
constexpr std::uint32_t AddressedOverhead = 4;  // instruction and 24-bit address

// Fills the header and the instruction byte of a flash request.
void SetRequest(BoardLink& link, std::uint16_t readCount, std::uint16_t writeCount,
                std::uint8_t instruction);
// The 24-bit big-endian address after the instruction.
void SetAddress(BoardLink& link, std::uint32_t address);
// Polls the status back to back while the flash is busy, for at most ten seconds (then a
// Timeout failure). Done when it is ready; Stopped when the observer cancels the wait.
OperationResult<> WaitUntilReady(BoardLink& link, OperationObserver& observer);
}  // namespace SpiFlash
