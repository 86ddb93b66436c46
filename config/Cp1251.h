#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Windows-1251, the single-byte code page of the text fields in the configuration record.
// Bytes 0x00..0x7F are ASCII; 0x80..0xFF come from a table (0x98, unassigned, maps to U+0098 so
// that any stored byte survives a round trip).

// Decodes len bytes to UTF-8.
std::string Cp1251ToUtf8(const std::uint8_t* bytes, std::size_t len);

// Encodes UTF-8; a character without a Windows-1251 form, and every byte of malformed UTF-8,
// becomes '?'.
std::vector<std::uint8_t> Utf8ToCp1251(std::string_view utf8);

// Why utf8 cannot be stored, naming its first character that Windows-1251 cannot hold
// ("\"✓\" (U+2713) has no Windows-1251 form", "the byte 0xFF is not UTF-8"); empty when the
// whole text has a Windows-1251 form.
std::string FirstUnencodable(std::string_view utf8);

// Text-field rule of the record. Reading takes the bytes up to the first zero byte or the end of
// the field. Writing stores the encoded text truncated to the field; a shorter text is followed by
// one zero byte and the bytes after it keep their values, a text that fills the field gets no zero.
// Nothing is ever written past width. Line breaks are stored as 0x0D 0x0A: the windows convert
// "\n" to "\r\n" before writing, so this layer stores the text as given.
std::string ReadTextField(const std::uint8_t* field, std::size_t width);
void WriteTextField(std::uint8_t* field, std::size_t width, std::string_view utf8);
