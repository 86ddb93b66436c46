// The numbers of the board's link statistics words as the terminal shows them,
// free of any toolkit, so the statistics window and k350ctl read the same values.
#pragma once

#include <cstdint>

namespace StatisticsRules {

// Decimals each derived form shows.
constexpr int kPercentageDecimals = 4;
constexpr int kMillisecondsDecimals = 4;
constexpr int kLoadDecimals = 2;

// A fraction in units of 2^-31 as a percentage, a time in units of 1/46875 s as
// milliseconds, and a count of 1/46875 parts as a processor load in percent; each
// already rounded to its significant digits and decimals, as shown.
double percentageValue(std::uint32_t word);
double millisecondsValue(std::uint32_t word);
double loadValue(std::uint32_t word);

// Reads big-endian statistics word `index` of a 68-byte record.
std::uint32_t wordAt(const std::uint8_t* record, int index);

}  // namespace StatisticsRules
