// The board's statistics record as the tests make it up: each word big-endian, in word order.
#pragma once

#include <array>
#include <cstdint>

#include "link/StatisticsRules.h"

using StatisticsWords = std::array<std::uint32_t, StatisticsWord::Count>;
using StatisticsRecordBytes = std::array<std::uint8_t, 4 * StatisticsWord::Count>;

inline StatisticsRecordBytes BigEndianRecord(const StatisticsWords& words) {
    StatisticsRecordBytes record{};
    for (int i = 0; i < StatisticsWord::Count; ++i) {
        for (int b = 0; b < 4; ++b) record[4 * i + b] = words[i] >> (24 - 8 * b) & 0xFF;
    }
    return record;
}
