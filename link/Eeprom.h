// The configuration EEPROM at I2C 0x50 as the configuration operations reach it: 16-bit
// big-endian memory addresses, 64-byte pages, and nothing at or beyond 0x4000.
#pragma once

#include <cstdint>

class BoardLink;

namespace Eeprom {
constexpr std::uint16_t Slave = 0x50;
constexpr std::uint32_t PageSize = 64;
constexpr std::uint32_t Limit = 0x4000;  // neither operation goes on at or beyond it
constexpr std::uint16_t AddressLength = 2;

// Fills an I2C request to the EEPROM: header and the memory address, high byte first.
void SetRequest(BoardLink& link, std::uint16_t readCount, std::uint16_t writeCount,
                std::uint16_t address);
}  // namespace Eeprom
