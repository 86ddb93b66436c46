#include "report/Capability.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

namespace {

struct Indices {
    std::optional<double> potential, actual;  // Cp and Cpk, or Pp and Ppk
};

// The indices of a spread: both limits give the potential and the nearer side; one limit, its
// side alone.
Indices IndicesOf(double mean, const std::optional<double>& sigma, const std::optional<double>& low,
                  const std::optional<double>& high) {
    if (!sigma || *sigma <= 0 || (!low && !high)) return {};
    Indices indices;
    if (low && high) indices.potential = (*high - *low) / (6 * *sigma);
    const std::optional<double> upper =
        high ? std::optional<double>((*high - mean) / (3 * *sigma)) : std::nullopt;
    const std::optional<double> lower =
        low ? std::optional<double>((mean - *low) / (3 * *sigma)) : std::nullopt;
    indices.actual = upper && lower ? std::min(*upper, *lower) : upper ? upper : lower;
    return indices;
}

std::optional<double> Weakness(const Capability& capability) {
    return capability.cpk ? capability.cpk : capability.ppk;
}

}  // namespace

MeasurementSummary SummaryOf(const MeasurementSeries& series) {
    MeasurementSummary summary;
    summary.name = series.name;
    summary.unit = series.unit;
    summary.limits = series.limits;
    summary.count = std::int64_t(series.values.size());
    summary.marginal = series.marginal;
    summary.failed = series.failed;
    if (series.values.empty()) return summary;
    summary.min = summary.max = series.values.front();
    for (std::size_t i = 0; i < series.values.size(); ++i) {
        const double value = series.values[i];
        summary.sum += value;
        summary.sumSquares += value * value;
        summary.min = std::min(summary.min, value);
        summary.max = std::max(summary.max, value);
        if (i > 0) summary.movingRangeSum += std::fabs(value - series.values[i - 1]);
    }
    summary.movingRanges = summary.count - 1;
    return summary;
}

Capability CapabilityOf(const MeasurementSeries& series) {
    return CapabilityOf(SummaryOf(series));
}

Capability CapabilityOf(const MeasurementSummary& summary) {
    Capability capability;
    capability.name = summary.name;
    capability.unit = summary.unit;
    capability.count = std::size_t(summary.count);
    capability.low = summary.limits.low;
    capability.high = summary.limits.high;
    capability.marginal = summary.marginal;
    capability.failed = summary.failed;
    if (summary.count == 0) return capability;
    const double n = double(summary.count);
    capability.mean = summary.sum / n;
    capability.min = summary.min;
    capability.max = summary.max;
    if (summary.count >= 2) {
        // Rounding may leave a sum of squares a hair below n times the squared mean.
        const double squares =
            std::max(0.0, summary.sumSquares - n * capability.mean * capability.mean);
        capability.sigmaOverall = std::sqrt(squares / (n - 1));
    }
    if (summary.movingRanges > 0) {
        capability.sigmaWithin =
            summary.movingRangeSum / double(summary.movingRanges) / kMovingRangeD2;
    }
    const Indices within =
        IndicesOf(capability.mean, capability.sigmaWithin, capability.low, capability.high);
    const Indices overall =
        IndicesOf(capability.mean, capability.sigmaOverall, capability.low, capability.high);
    capability.cp = within.potential;
    capability.cpk = within.actual;
    capability.pp = overall.potential;
    capability.ppk = overall.actual;
    return capability;
}

std::vector<Capability> WeakestFirst(std::vector<Capability> capabilities) {
    std::stable_sort(capabilities.begin(), capabilities.end(),
                     [](const Capability& a, const Capability& b) {
                         const auto weakA = Weakness(a), weakB = Weakness(b);
                         if (weakA.has_value() != weakB.has_value()) return weakA.has_value();
                         if (weakA && *weakA != *weakB) return *weakA < *weakB;
                         return a.name < b.name;
                     });
    return capabilities;
}

Histogram HistogramOf(const std::vector<double>& values, const MeasurementLimits& limits,
                      int bins) {
    Histogram histogram;
    if (values.empty() || bins <= 0) return histogram;
    double from = *std::min_element(values.begin(), values.end());
    double to = *std::max_element(values.begin(), values.end());
    for (const auto& limit : {limits.low, limits.high}) {
        if (limit && std::isfinite(*limit)) {
            from = std::min(from, *limit);
            to = std::max(to, *limit);
        }
    }
    // One value alone still gets a bar of some width.
    if (to <= from) to = from + (from == 0 ? 1 : std::fabs(from) * 0.01);
    histogram.from = from;
    histogram.width = (to - from) / bins;
    histogram.counts.assign(std::size_t(bins), 0);
    for (double value : values) {
        if (!std::isfinite(value)) continue;
        const auto bin = std::clamp(int((value - from) / histogram.width), 0, bins - 1);
        ++histogram.counts[std::size_t(bin)];
    }
    return histogram;
}
