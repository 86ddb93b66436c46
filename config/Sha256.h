// SHA-256 of a byte string, as 64 lower-case hexadecimal digits: what the line's record keeps of
// the firmware image and of the configuration written into each board.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string Sha256Hex(const std::vector<std::uint8_t>& bytes);
