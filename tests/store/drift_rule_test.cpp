// The run rules over a port's series, and the chart's limits from the moving range.
#include <gtest/gtest.h>

#include <cmath>

#include "store/DriftRule.h"

namespace {

// A steady series with noise that neither trends nor stays on one side for long.
std::vector<double> Steady(std::size_t count) {
    const double pattern[] = {10.0, 10.4, 9.7, 10.2, 9.9, 10.3, 9.6, 10.1};
    std::vector<double> series;
    for (std::size_t i = 0; i < count; ++i) series.push_back(pattern[i % std::size(pattern)]);
    return series;
}

TEST(DriftRule, SigmaFromTheAverageMovingRange) {
    EXPECT_EQ(MovingRangeSigma({}), std::nullopt);
    EXPECT_EQ(MovingRangeSigma({5}), std::nullopt);
    // Moving ranges 2, 1, 3: MR-bar 2.
    EXPECT_DOUBLE_EQ(*MovingRangeSigma({1, 3, 2, 5}), 2 / 1.128);
    const auto limits = IndividualsLimits({1, 3, 2, 5});
    ASSERT_TRUE(limits);
    EXPECT_DOUBLE_EQ(limits->centre, 2.75);
    EXPECT_DOUBLE_EQ(limits->upper(), 2.75 + 3 * 2 / 1.128);
    EXPECT_DOUBLE_EQ(limits->lower(), 2.75 - 3 * 2 / 1.128);
}

TEST(DriftRule, ASteadySeriesRaisesNothing) {
    EXPECT_EQ(DriftAtEnd(Steady(40)), std::nullopt);
    EXPECT_EQ(DriftAtEnd({}), std::nullopt);
    EXPECT_EQ(DriftAtEnd({3}), std::nullopt);
}

TEST(DriftRule, APointBeyondTheControlLimits) {
    auto series = Steady(30);
    series.push_back(14.0);
    const auto finding = DriftAtEnd(series);
    ASSERT_TRUE(finding);
    EXPECT_EQ(finding->rule, DriftRuleKind::BeyondControlLimits);
    EXPECT_EQ(finding->values, std::vector<double>{14.0});
    EXPECT_STREQ(DriftRuleName(finding->rule), "beyond_control_limits");
}

TEST(DriftRule, NineInARowOnOneSideButNotEight) {
    const ControlLimits limits{10.0, 1.0};
    std::vector<double> series = {9.5, 9.0};
    for (int i = 0; i < 8; ++i) series.push_back(i % 2 ? 10.2 : 10.6);
    EXPECT_EQ(DriftAt(series, series.size() - 1, limits), std::nullopt);
    series.push_back(10.3);
    const auto finding = DriftAt(series, series.size() - 1, limits);
    ASSERT_TRUE(finding);
    EXPECT_EQ(finding->rule, DriftRuleKind::NineOnOneSide);
    EXPECT_EQ(finding->values.size(), 9u);
    EXPECT_EQ(finding->values.front(), 10.6);
    // A point on the centre line is on neither side and breaks the run.
    series[5] = 10.0;
    EXPECT_EQ(DriftAt(series, series.size() - 1, limits), std::nullopt);
}

TEST(DriftRule, SixInARowRisingOrFallingButNotWithATie) {
    const ControlLimits limits{10.0, 1.0};
    const std::vector<double> rising = {9.0, 10.5, 9.1, 9.2, 9.4, 9.6, 9.8, 10.1};
    const auto finding = DriftAt(rising, rising.size() - 1, limits);
    ASSERT_TRUE(finding);
    EXPECT_EQ(finding->rule, DriftRuleKind::SixTrending);
    EXPECT_EQ(finding->values, (std::vector<double>{9.1, 9.2, 9.4, 9.6, 9.8, 10.1}));
    const std::vector<double> falling = {10.9, 10.7, 10.5, 10.2, 9.9, 9.1};
    EXPECT_EQ(DriftAt(falling, 5, limits)->rule, DriftRuleKind::SixTrending);
    const std::vector<double> tie = {9.0, 9.2, 9.4, 9.4, 9.8, 10.1};
    EXPECT_EQ(DriftAt(tie, 5, limits), std::nullopt);
    const std::vector<double> five = {9.2, 9.4, 9.6, 9.8, 10.1};
    EXPECT_EQ(DriftAt(five, 4, limits), std::nullopt);
}

// A port whose boards each get a little worse is seen by its trend before any point leaves the
// control limits; a board back to normal ends it.
TEST(DriftRule, ADriftingPortIsSeenByItsTrend) {
    auto series = Steady(24);
    for (int i = 1; i <= 6; ++i) series.push_back(10.0 + 0.05 * i);
    const auto finding = DriftAtEnd(series);
    ASSERT_TRUE(finding);
    EXPECT_EQ(finding->rule, DriftRuleKind::SixTrending);
    EXPECT_EQ(finding->last, series.size() - 1);

    series.push_back(10.0);
    series.push_back(10.4);
    EXPECT_EQ(DriftAtEnd(series), std::nullopt);
    const auto earlier = DriftAt(series, series.size() - 3, *IndividualsLimits(series));
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier->rule, DriftRuleKind::SixTrending);
}

TEST(DriftRule, NoSpreadAtAllSaysNothingOfLimits) {
    std::vector<double> flat(10, 8000.0);
    EXPECT_EQ(DriftAtEnd(flat), std::nullopt);
}

}  // namespace
