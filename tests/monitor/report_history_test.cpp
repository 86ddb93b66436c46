// The statistics history and the points the chart draws of it, without a window.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>
#include <array>

#include "monitor/ReportChart.h"
#include "monitor/ReportHistory.h"
#include "tests/support/ReportHistoryFixture.h"

namespace {

TEST_F(HistoryTest, KeepsTheArrivalTheWordsAndTheShownValuesInOrder) {
    Words words{};
    for (int i = 0; i < StatisticsReport::kWordCount; ++i) words[i] = 0x01020304u * (i + 1);
    words[6] = 1u << 30;
    words[13] = 1u << 31;
    words[14] = 46875;
    words[15] = 9375;
    append(words);
    appendAt(7);

    ASSERT_EQ(history_.size(), 2u);
    EXPECT_EQ(history_[0].words, words);
    EXPECT_EQ(history_[0].arrival(), start_);
    EXPECT_EQ(history_[0].arrival().offsetFromUtc(), 3 * 3600);
    EXPECT_EQ(history_[1].arrival(), start_.addSecs(1));
    EXPECT_EQ(history_[1].words[0], 7u);
    using namespace StatisticsSeries;
    EXPECT_EQ(history_[0].shown[RxdErrFract], 50.0);
    EXPECT_EQ(history_[0].shown[RxvLostFract], 100.0);
    EXPECT_EQ(history_[0].shown[Jitter], 1000.0);
    EXPECT_EQ(history_[0].shown[Load], 20.0);
}

TEST_F(HistoryTest, AWorkingDayFitsAndBeyondItTheOldestGoFirst) {
    constexpr std::size_t kDay = 8 * 60 * 60;
    EXPECT_EQ(history_.capacity(), kDay);
    for (std::uint32_t second = 0; second < kDay + 5; ++second) appendAt(second);
    ASSERT_EQ(history_.size(), kDay);
    EXPECT_EQ(history_[0].words[0], 5u);
    EXPECT_EQ(history_.back().words[0], kDay + 4);
    EXPECT_EQ(history_[0].arrival(), start_.addSecs(5));
}

TEST_F(HistoryTest, MarksTheFirstReportAfterAReset) {
    appendAt(10);
    appendAt(11);
    appendAt(0);  // counters restarted, whoever reset them
    appendAt(1);
    history_.noteResetAsked();
    appendAt(2);  // the report asked before the reset came first
    appendAt(0);
    history_.noteResetAsked();
    appendAt(0);  // a reset right after one: the time cannot go back
    const bool expected[] = {false, false, true, false, false, true, true};
    ASSERT_EQ(history_.size(), std::size(expected));
    for (std::size_t i = 0; i < history_.size(); ++i) {
        EXPECT_EQ(history_[i].afterReset, expected[i]) << i;
    }
}

TEST_F(HistoryTest, ResetAskedBeforeTheFirstReportMarksIt) {
    history_.noteResetAsked();
    appendAt(0);
    appendAt(1);
    EXPECT_TRUE(history_[0].afterReset);
    EXPECT_FALSE(history_[1].afterReset);
    const auto revision = history_.revision();
    history_.clear();
    EXPECT_TRUE(history_.empty());
    EXPECT_NE(history_.revision(), revision);
}

TEST_F(HistoryTest, ChartPointsAreEveryReportWhileTheyFit) {
    for (std::uint32_t second = 0; second < 10; ++second) appendAt(second, second << 20);
    const auto points = ReportChart::displayPoints(history_, 5);
    ASSERT_EQ(points[StatisticsSeries::RxvLostFract].size(), 10);
    for (int i = 0; i < 10; ++i) {
        const QPointF point = points[StatisticsSeries::RxvLostFract][i];
        EXPECT_EQ(point.x(), double(history_[i].arrivalMs));
        EXPECT_EQ(point.y(), history_[i].shown[StatisticsSeries::RxvLostFract]);
    }
}

TEST_F(HistoryTest, ADayOfChartPointsKeepsEveryColumnsPeaksInOrder) {
    constexpr int kColumns = 300;
    constexpr std::uint32_t kDay = 8 * 60 * 60;
    for (std::uint32_t second = 0; second < kDay; ++second) {
        // A slow sawtooth with one spike and one dip.
        std::uint32_t lost = (second % 600) << 16;
        if (second == 12345) lost = 0x7FFFFFFFu;
        if (second == 20000) lost = 0;
        appendAt(second, lost);
    }
    const auto points = ReportChart::displayPoints(history_, kColumns);
    const QList<QPointF>& lost = points[StatisticsSeries::RxvLostFract];
    EXPECT_LE(lost.size(), 2 * kColumns);
    EXPECT_GE(lost.size(), kColumns);
    double highest = 0;
    for (int i = 1; i < lost.size(); ++i) {
        EXPECT_LT(lost[i - 1].x(), lost[i].x()) << i;
        highest = std::max(highest, lost[i].y());
    }
    EXPECT_EQ(highest, history_[12345].shown[StatisticsSeries::RxvLostFract]);
    EXPECT_EQ(lost.front().x(), double(history_[0].arrivalMs));
    EXPECT_EQ(lost.back().x(), double(history_.back().arrivalMs));
}

}  // namespace