#include "config/Cp1251.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFFU;
constexpr std::uint8_t kReplacement = '?';

// Code points of the bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Decodes one UTF-8 sequence at pos and advances pos; a malformed sequence yields kInvalid and
// consumes one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    const std::size_t length = SequenceLength(lead);
    if (length == 0 || pos + length > text.size()) {
        ++pos;
        return kInvalid;
    }
    static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t cp = lead & kLeadMask[length];
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return kInvalid;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (cp < kMinimum[length] || cp > 0x10FFFF || surrogate) {
        ++pos;
        return kInvalid;
    }
    pos += length;
    return cp;
}

std::uint8_t EncodeCodePoint(char32_t cp) {
    if (cp < 0x80) return static_cast<std::uint8_t>(cp);
    const auto found = std::find(kHighHalf.begin(), kHighHalf.end(), cp);
    if (found == kHighHalf.end()) return kReplacement;
    return static_cast<std::uint8_t>(0x80 + (found - kHighHalf.begin()));
}

}  // namespace

std::string Cp1251ToUtf8(const std::uint8_t* bytes, std::size_t len) {
    std::string out;
    out.reserve(len * 2);
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint8_t b = bytes[i];
        AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kHighHalf[b - 0x80]});
    }
    return out;
}

std::vector<std::uint8_t> Utf8ToCp1251(std::string_view utf8) {
    std::vector<std::uint8_t> out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = NextCodePoint(utf8, pos);
        out.push_back(cp == kInvalid ? kReplacement : EncodeCodePoint(cp));
    }
    return out;
}

std::string FirstUnencodable(std::string_view utf8) {
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t start = pos;
        const char32_t cp = NextCodePoint(utf8, pos);
        char name[48];
        if (cp == kInvalid) {
            std::snprintf(name, sizeof name, "the byte 0x%02X is not UTF-8",
                          static_cast<unsigned char>(utf8[start]));
            return name;
        }
        if (EncodeCodePoint(cp) != kReplacement || cp == kReplacement) continue;
        std::snprintf(name, sizeof name, " (U+%04X) has no Windows-1251 form", unsigned(cp));
        return "\"" + std::string(utf8.substr(start, pos - start)) + "\"" + name;
    }
    return {};
}

std::string ReadTextField(const std::uint8_t* field, std::size_t width) {
    const auto* end = std::find(field, field + width, std::uint8_t{0});
    return Cp1251ToUtf8(field, static_cast<std::size_t>(end - field));
}

void WriteTextField(std::uint8_t* field, std::size_t width, std::string_view utf8) {
    const std::vector<std::uint8_t> encoded = Utf8ToCp1251(utf8);
    const std::size_t length = std::min(encoded.size(), width);
    std::copy_n(encoded.begin(), length, field);
    if (length < width) field[length] = 0;
}
