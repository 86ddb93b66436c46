// 16-bit words as bytes: the record keeps its recorder and vocoder words big-endian and its
// LF amplifier words little-endian; the link's headers and replies are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline std::uint16_t ReadBigEndian(const std::uint8_t* bytes) {
    return std::uint16_t(bytes[0] << 8 | bytes[1]);
}

inline void WriteBigEndian(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = std::uint8_t(value >> 8);
    bytes[1] = std::uint8_t(value);
}

inline std::uint16_t ReadLittleEndian(const std::uint8_t* bytes) {
    return std::uint16_t(bytes[1] << 8 | bytes[0]);
}

inline void WriteLittleEndian(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = std::uint8_t(value);
    bytes[1] = std::uint8_t(value >> 8);
}

// A block of big-endian words (recorder, vocoder) to and from native words.
inline void ReadBigEndianWords(const std::uint8_t* bytes, std::span<std::uint16_t> words) {
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = ReadBigEndian(bytes + 2 * i);
}

inline void WriteBigEndianWords(std::uint8_t* bytes, std::span<const std::uint16_t> words) {
    for (std::size_t i = 0; i < words.size(); ++i) WriteBigEndian(bytes + 2 * i, words[i]);
}
