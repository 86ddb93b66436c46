// A statistics history fed with reports one second apart, without a window.
#pragma once

#include <gtest/gtest.h>

#include <QDateTime>
#include <array>

#include "monitor/ReportHistory.h"
#include "tests/support/StatisticsRecord.h"

using Words = std::array<std::uint32_t, StatisticsReport::kWordCount>;
using Record = std::array<std::uint8_t, 4 * StatisticsReport::kWordCount>;

// Reports one second apart from 14:03:27.250 at UTC+3.
class HistoryTest : public ::testing::Test {
protected:
    explicit HistoryTest(std::size_t capacity = ReportHistory::kDefaultCapacity)
        : history_(capacity) {
        history_.setTimeSource([this] { return start_.addSecs(ticks_++); });
    }
    void append(const Words& words) {
        const Record record = BigEndianRecord(words);
        history_.append(record.data());
    }
    // A report whose collection time is `seconds` and whose lost fraction is `lost`.
    void appendAt(std::uint32_t seconds, std::uint32_t lost = 0) {
        Words words{};
        words[0] = seconds;
        words[13] = lost;
        append(words);
    }

    const QDateTime start_{QDate(2026, 12, 9), QTime(14, 3, 27, 250), Qt::OffsetFromUTC, 3 * 3600};
    int ticks_ = 0;
    ReportHistory history_;
};
