#include "config/Crc.h"

namespace {

constexpr std::uint16_t kReflectedPolynomial = 0xA001;
constexpr int kBasisCount = 8;

std::uint16_t SwapBytes(std::uint16_t value) {
    return static_cast<std::uint16_t>((value << 8) | (value >> 8));
}

// basis[k] is the table entry of the single bit (7 - k) of the index; every other entry is the
// exclusive or of the basis words of its set bits.
std::array<std::uint16_t, kBasisCount> MakeBasis() {
    std::array<std::uint16_t, kBasisCount> basis{};
    std::uint16_t value = 0;
    bool carry = true;
    for (int k = 0; k < kBasisCount; ++k) {
        if (carry) value ^= kReflectedPolynomial;
        basis[k] = SwapBytes(value);
        carry = (value & 1U) != 0;
        value = static_cast<std::uint16_t>(value >> 1);
    }
    return basis;
}

}  // namespace

TCrc::TCrc() {
    BuildTable();
}

void TCrc::BuildTable() {
    const auto basis = MakeBasis();
    for (std::size_t n = 0; n < kTableSize; ++n) {
        std::uint16_t entry = 0;
        for (int k = 0; k < kBasisCount; ++k) {
            if (n & (0x80U >> k)) entry ^= basis[k];
        }
        table_[n] = entry;
    }
}

void TCrc::Calculate(const std::uint8_t* data, std::uint16_t& running, std::size_t count) const {
    std::uint16_t r = running;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t t = table_[(data[i] ^ (r >> 8)) & 0xFFU];
        r = static_cast<std::uint16_t>(((t & 0xFF00U) ^ ((r << 8) & 0xFFFFU)) | (t & 0x00FFU));
    }
    running = static_cast<std::uint16_t>(r ^ 0xFFFFU);
}
