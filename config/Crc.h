#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The CRC that protects the configuration record. The table is the reflected CRC-16 (0xA001) table
// with the two bytes of each entry exchanged, and the update step works on a byte-swapped running
// value to match: started from 0xFFFF, the result is CRC-16/USB with its two bytes exchanged.
class TCrc {
public:
    static constexpr std::size_t kTableSize = 256;
    using Table = std::array<std::uint16_t, kTableSize>;

    TCrc();

    // Processes count bytes into running, then complements it. Every call ends with the
    // complement, so a record must be passed in one call; running starts at 0xFFFF.
    void Calculate(const std::uint8_t* data, std::uint16_t& running, std::size_t count) const;

    const Table& table() const { return table_; }
    std::uint16_t entry(std::uint8_t index) const { return table_[index]; }

private:
    void BuildTable();

    Table table_{};
};
