// Capability over known distributions, checked against a computation of its own in the test:
// sums by the textbook formulas, not the unit's code.
#include "report/Capability.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

std::vector<double> Normal(double mean, double sigma, int count, unsigned seed) {
    std::mt19937 generator(seed);
    std::normal_distribution<double> distribution(mean, sigma);
    std::vector<double> values;
    for (int i = 0; i < count; ++i) values.push_back(distribution(generator));
    return values;
}

// The figures by hand: Welford's running variance, the moving ranges summed apart.
struct Expected {
    double mean = 0, overall = 0, within = 0;
};
Expected ComputedApart(const std::vector<double>& values) {
    Expected expected;
    double m2 = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double delta = values[i] - expected.mean;
        expected.mean += delta / double(i + 1);
        m2 += delta * (values[i] - expected.mean);
    }
    expected.overall = std::sqrt(m2 / double(values.size() - 1));
    double ranges = 0;
    for (std::size_t i = 0; i + 1 < values.size(); ++i) {
        ranges += std::abs(values[i + 1] - values[i]);
    }
    expected.within = ranges / double(values.size() - 1) / 1.128;
    return expected;
}

MeasurementSeries Series(const char* name, std::vector<double> values, MeasurementLimits limits) {
    MeasurementSeries series;
    series.name = name;
    series.unit = "ms";
    series.limits = limits;
    series.values = std::move(values);
    return series;
}

TEST(Capability, TwoSidedFiguresMatchAnIndependentComputation) {
    const auto values = Normal(2.0, 0.1, 5000, 7);
    const Capability capability =
        CapabilityOf(Series("flash.program_ms.max", values, {1.5, 2.6, {}, {}}));
    const Expected expected = ComputedApart(values);
    EXPECT_EQ(capability.count, 5000u);
    EXPECT_NEAR(capability.mean, expected.mean, 1e-12);
    // From sums of squares, as the database adds them: a little rounding.
    EXPECT_NEAR(*capability.sigmaOverall, expected.overall, 1e-9);
    EXPECT_NEAR(*capability.sigmaWithin, expected.within, 1e-12);
    EXPECT_NEAR(*capability.cp, 1.1 / (6 * expected.within), 1e-9);
    EXPECT_NEAR(*capability.cpk,
                std::min(2.6 - expected.mean, expected.mean - 1.5) / (3 * expected.within), 1e-9);
    EXPECT_NEAR(*capability.pp, 1.1 / (6 * expected.overall), 1e-7);
    EXPECT_NEAR(*capability.ppk,
                std::min(2.6 - expected.mean, expected.mean - 1.5) / (3 * expected.overall), 1e-7);
    // Independent values: both sigmas near the true 0.1, the nearer limit (1.5) 5 sigma away.
    EXPECT_NEAR(*capability.sigmaWithin, 0.1, 0.005);
    EXPECT_NEAR(*capability.cpk, 5.0 / 3, 0.1);
    EXPECT_EQ(capability.min, *std::min_element(values.begin(), values.end()));
    EXPECT_EQ(capability.max, *std::max_element(values.begin(), values.end()));
}

// A drift spreads the values over the period while each board is close to the one before: the
// overall sigma grows, the within sigma does not, so Ppk falls below Cpk.
TEST(Capability, ADriftLowersPpkBelowCpk) {
    auto values = Normal(10.0, 0.2, 400, 11);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] += 0.01 * double(i);
    const Capability capability =
        CapabilityOf(Series("soak.jitter_ms.worst", values, {{}, 20.0, {}, {}}));
    const Expected expected = ComputedApart(values);
    EXPECT_NEAR(*capability.sigmaWithin, expected.within, 1e-12);
    EXPECT_NEAR(*capability.sigmaWithin, 0.2, 0.03);
    EXPECT_GT(*capability.sigmaOverall, 5 * *capability.sigmaWithin);
    EXPECT_LT(*capability.ppk, *capability.cpk);
    // One limit: no Cp or Pp, the one side's index.
    EXPECT_EQ(capability.cp, std::nullopt);
    EXPECT_EQ(capability.pp, std::nullopt);
    EXPECT_NEAR(*capability.cpk, (20.0 - expected.mean) / (3 * expected.within), 1e-9);
    const Capability lowOnly = CapabilityOf(Series("x", values, {9.0, {}, {}, {}}));
    EXPECT_NEAR(*lowOnly.ppk, (expected.mean - 9.0) / (3 * expected.overall), 1e-7);
}

TEST(Capability, FewValuesNoSpreadOrNoLimitsGiveNoIndex) {
    const Capability empty = CapabilityOf(Series("x", {}, {0.0, 1.0, {}, {}}));
    EXPECT_EQ(empty.count, 0u);
    EXPECT_EQ(empty.cpk, std::nullopt);
    const Capability one = CapabilityOf(Series("x", {0.5}, {0.0, 1.0, {}, {}}));
    EXPECT_EQ(one.mean, 0.5);
    EXPECT_EQ(one.sigmaOverall, std::nullopt);
    EXPECT_EQ(one.sigmaWithin, std::nullopt);
    const Capability flat = CapabilityOf(Series("x", {0.5, 0.5, 0.5}, {0.0, 1.0, {}, {}}));
    EXPECT_EQ(flat.sigmaOverall, 0.0);
    EXPECT_EQ(flat.cpk, std::nullopt);
    const Capability unlimited = CapabilityOf(Series("x", {1, 2, 3}, {}));
    EXPECT_EQ(unlimited.cpk, std::nullopt);
    EXPECT_EQ(unlimited.ppk, std::nullopt);
    EXPECT_EQ(unlimited.low, std::nullopt);
}

// A mean outside its limits gives a negative index: the weakest of all.
TEST(Capability, TheWeakestComeFirstAndTheUnlimitedLast) {
    const MeasurementLimits limits{0.0, 10.0, {}, {}};
    std::vector<Capability> capabilities{
        CapabilityOf(Series("b.wide", {4, 5, 6, 5}, limits)),
        CapabilityOf(Series("a.unlimited", {1, 2, 3}, {})),
        CapabilityOf(Series("c.outside", {11, 12, 11, 12}, limits)),
        CapabilityOf(Series("d.near", {8, 9, 8.5, 9}, limits)),
        CapabilityOf(Series("e.flat", {5, 5, 5}, limits)),
    };
    std::vector<std::string> order;
    for (const Capability& capability : WeakestFirst(capabilities)) {
        order.push_back(capability.name);
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"c.outside", "d.near", "b.wide", "a.unlimited", "e.flat"}));
    EXPECT_LT(*capabilities[2].cpk, 0);
}

TEST(Capability, CountsOfMarginalAndFailedAreKept) {
    MeasurementSeries series = Series("x", {1, 2}, {0.0, 3.0, {}, 1.5});
    series.marginal = 1;
    series.failed = 4;
    const Capability capability = CapabilityOf(series);
    EXPECT_EQ(capability.marginal, 1);
    EXPECT_EQ(capability.failed, 4);
    EXPECT_EQ(capability.low, 0.0);
    EXPECT_EQ(capability.high, 3.0);
}

TEST(CapabilityHistogram, BinsSpanTheValuesAndTheLimits) {
    const Histogram histogram = HistogramOf({2, 2.5, 3, 3, 7.9}, {0.0, 10.0, {}, {}}, 10);
    EXPECT_EQ(histogram.from, 0);
    EXPECT_EQ(histogram.width, 1);
    EXPECT_EQ(histogram.counts, (std::vector<int>{0, 0, 2, 2, 0, 0, 0, 1, 0, 0}));
    // The largest value falls into the last bin, not past it.
    const Histogram unlimited = HistogramOf({1, 2, 3}, {}, 2);
    EXPECT_EQ(unlimited.counts, (std::vector<int>{1, 2}));
    const Histogram single = HistogramOf({4}, {}, 3);
    EXPECT_EQ(single.counts[0], 1);
    EXPECT_GT(single.width, 0);
    EXPECT_TRUE(HistogramOf({}, {}, 5).counts.empty());
}

}  // namespace
