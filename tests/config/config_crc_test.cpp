#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "config/Crc.h"

namespace {

std::uint16_t CrcOf(const TCrc& crc, const std::uint8_t* data, std::size_t count) {
    std::uint16_t running = 0xFFFF;
    crc.Calculate(data, running, count);
    return running;
}

std::uint16_t CrcOfText(const TCrc& crc, const char* text) {
    return CrcOf(crc, reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
}

// Entry of the reflected CRC-16/ARC table by the published bit-wise rule.
std::uint16_t ArcEntry(unsigned index) {
    std::uint16_t value = static_cast<std::uint16_t>(index);
    for (int bit = 0; bit < 8; ++bit) {
        value = (value & 1U) ? static_cast<std::uint16_t>((value >> 1) ^ 0xA001U)
                             : static_cast<std::uint16_t>(value >> 1);
    }
    return value;
}

}  // namespace

TEST(CrcTest, WorkedValues) {
    const TCrc crc;
    EXPECT_EQ(CrcOfText(crc, "123456789"), 0xC8B4);
    EXPECT_EQ(CrcOfText(crc, "abc"), 0xB6A8);
    const std::vector<std::uint8_t> zeros(138, 0);
    EXPECT_EQ(CrcOf(crc, zeros.data(), zeros.size()), 0xECFD);
    EXPECT_EQ(CrcOf(crc, nullptr, 0), 0x0000);
}

TEST(CrcTest, TableIsByteSwappedArcTable) {
    const TCrc crc;
    for (unsigned n = 0; n < TCrc::kTableSize; ++n) {
        const std::uint16_t arc = ArcEntry(n);
        const auto swapped = static_cast<std::uint16_t>((arc << 8) | (arc >> 8));
        ASSERT_EQ(crc.entry(static_cast<std::uint8_t>(n)), swapped) << "entry " << n;
    }
    EXPECT_EQ(crc.entry(1), 0xC1C0);
    EXPECT_EQ(crc.entry(128), 0x01A0);
    EXPECT_EQ(crc.entry(255), 0x4040);
}

TEST(CrcTest, EveryCallEndsWithComplementSoSplitCallsDiffer) {
    const TCrc crc;
    const char* text = "123456789";
    const auto* data = reinterpret_cast<const std::uint8_t*>(text);
    std::uint16_t running = 0xFFFF;
    crc.Calculate(data, running, 4);
    crc.Calculate(data + 4, running, 5);
    EXPECT_NE(running, 0xC8B4);

    // Undoing the complement between the calls restores the one-call result.
    running = 0xFFFF;
    crc.Calculate(data, running, 4);
    running ^= 0xFFFF;
    crc.Calculate(data + 4, running, 5);
    EXPECT_EQ(running, 0xC8B4);
}
