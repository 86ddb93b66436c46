// The board's 17 link statistics words by name, in the statistics window's forms without its
// locale: counts in plain digits, the fractions in percent, the jitter in milliseconds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct StatisticsField {
    std::string name;
    std::string number;  // the value as a JSON number, null for a word the reply did not carry
    std::string text;    // the value with its unit, as printed; empty for a word not carried
};

// A short reply carries only its first `received` bytes: the words it cut off are shown
// empty, as the statistics window leaves their fields empty, never as zero.
std::vector<StatisticsField> DescribeStatistics(const std::array<std::uint8_t, 68>& record,
                                                std::size_t received = 68);
