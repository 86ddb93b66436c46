// A file's bytes as the tests write and read them: images, records and saved states.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The whole file; empty when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
// Creates or replaces the file with exactly these bytes.
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
