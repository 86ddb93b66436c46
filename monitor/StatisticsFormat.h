// Display forms of the board's link statistics words, in the user's locale.
#pragma once

#include <QString>
#include <cstdint>

#include "link/StatisticsRules.h"

namespace StatisticsFormat {

// The word as a signed 32-bit number, no grouping ("-1").
QString PlainInteger(std::uint32_t word);
// The exact unsigned value with the locale's digit grouping ("4 294 967 295").
QString Count(std::uint32_t word);
// A fraction in units of 2^-31 as a percentage ("50,0000 %").
QString Percentage(std::uint32_t word);
// A time in units of 1/46875 s as milliseconds ("1000,0000 мсек").
QString Milliseconds(std::uint32_t word);
// A count of 1/46875 parts as a processor load in percent ("20,00").
QString Load(std::uint32_t word);

// The numbers the percentage, milliseconds and load forms show, as shown, so a
// chart or an export carries exactly what the fields read; their rules are shared
// with the command line.
using StatisticsRules::kLoadDecimals;
using StatisticsRules::kMillisecondsDecimals;
using StatisticsRules::kPercentageDecimals;
using StatisticsRules::LoadValue;
using StatisticsRules::MillisecondsValue;
using StatisticsRules::PercentageValue;
using StatisticsRules::WordAt;

}  // namespace StatisticsFormat
