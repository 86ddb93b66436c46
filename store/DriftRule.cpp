#include "store/DriftRule.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "store/Measurement.h"

namespace {

constexpr std::size_t kOneSideRun = 9;
constexpr std::size_t kTrendRun = 6;

std::vector<double> Run(const std::vector<double>& series, std::size_t point, std::size_t count) {
    return {series.begin() + std::ptrdiff_t(point + 1 - count),
            series.begin() + std::ptrdiff_t(point + 1)};
}

// Every one of the run's points strictly on the same side of the centre line.
bool OnOneSide(const std::vector<double>& run, double centre) {
    const auto above = [&](double value) { return value > centre; };
    const auto below = [&](double value) { return value < centre; };
    return std::all_of(run.begin(), run.end(), above) || std::all_of(run.begin(), run.end(), below);
}

// Each point strictly above (or each strictly below) the one before.
bool Trending(const std::vector<double>& run) {
    bool rising = true, falling = true;
    for (std::size_t i = 1; i < run.size(); ++i) {
        rising = rising && run[i] > run[i - 1];
        falling = falling && run[i] < run[i - 1];
    }
    return rising || falling;
}

}  // namespace

std::optional<double> MovingRangeSigma(const std::vector<double>& values) {
    if (values.size() < 2) return std::nullopt;
    double ranges = 0;
    for (std::size_t i = 1; i < values.size(); ++i) ranges += std::fabs(values[i] - values[i - 1]);
    return ranges / double(values.size() - 1) / kMovingRangeD2;
}

std::optional<ControlLimits> IndividualsLimits(const std::vector<double>& values) {
    const auto sigma = MovingRangeSigma(values);
    if (!sigma) return std::nullopt;
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
    return ControlLimits{mean, *sigma};
}

const char* DriftRuleName(DriftRuleKind rule) {
    switch (rule) {
        case DriftRuleKind::BeyondControlLimits:
            return "beyond_control_limits";
        case DriftRuleKind::NineOnOneSide:
            return "nine_on_one_side";
        case DriftRuleKind::SixTrending:
            break;
    }
    return "six_trending";
}

std::optional<DriftFinding> DriftAt(const std::vector<double>& series, std::size_t point,
                                    const ControlLimits& limits) {
    if (point >= series.size()) return std::nullopt;
    // With no spread at all, any other value would be "beyond": the rule says nothing then.
    const double value = series[point];
    if (limits.sigma > 0 && (value > limits.upper() || value < limits.lower())) {
        return DriftFinding{DriftRuleKind::BeyondControlLimits, point, {value}};
    }
    if (point + 1 >= kOneSideRun) {
        auto run = Run(series, point, kOneSideRun);
        if (OnOneSide(run, limits.centre)) {
            return DriftFinding{DriftRuleKind::NineOnOneSide, point, std::move(run)};
        }
    }
    if (point + 1 >= kTrendRun) {
        auto run = Run(series, point, kTrendRun);
        if (Trending(run)) return DriftFinding{DriftRuleKind::SixTrending, point, std::move(run)};
    }
    return std::nullopt;
}

std::optional<DriftFinding> DriftAtEnd(const std::vector<double>& series) {
    const auto limits = IndividualsLimits(series);
    if (!limits) return std::nullopt;
    return DriftAt(series, series.size() - 1, *limits);
}

std::string DriftMessage(const std::string& port, const std::string& name,
                         const DriftFinding& found) {
    std::string values;
    for (double value : found.values) values += (values.empty() ? "" : ", ") + ValueText(value);
    return "port " + port + ": " + name + " drifts (" + DriftRuleName(found.rule) + ": " + values +
           "); look at the port and its boards before they fail";
}
