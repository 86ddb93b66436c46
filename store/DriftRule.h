// The run rules of an individuals control chart, over one port's series of one measurement in
// run order: a point beyond the control limits, nine in a row on one side of the centre line,
// six in a row rising or falling. The station raises its drift alert by them and the report
// names the ports they hold for, so a process is seen to move while its boards still pass.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// d2 of a moving range of two points: sigma = MR-bar / d2.
constexpr double kMovingRangeD2 = 1.128;

// The individuals chart's centre line (the mean) and its sigma from the average moving range
// (MR-bar / 1.128); the control limits lie 3 sigma either side of the centre.
struct ControlLimits {
    double centre = 0, sigma = 0;

    double lower() const { return centre - 3 * sigma; }
    double upper() const { return centre + 3 * sigma; }
};

// The sigma the average moving range of successive values gives; none for fewer than two.
std::optional<double> MovingRangeSigma(const std::vector<double>& values);
// The chart's limits over the values; none for fewer than two.
std::optional<ControlLimits> IndividualsLimits(const std::vector<double>& values);

enum class DriftRuleKind { BeyondControlLimits, NineOnOneSide, SixTrending };

// "beyond_control_limits", "nine_on_one_side", "six_trending": the rule as alerts name it.
const char* DriftRuleName(DriftRuleKind rule);

struct DriftFinding {
    DriftRuleKind rule;
    std::size_t last = 0;        // index of the point that completed the rule
    std::vector<double> values;  // the points the rule holds for, in run order
};

// The alert's text: the port, the measurement, the rule and its points, as the station and the
// live page tell it.
std::string DriftMessage(const std::string& port, const std::string& name,
                         const DriftFinding& found);

// The rule the series' last point completes, judged by the series' own limits; the first of
// them in the order above when several hold.
std::optional<DriftFinding> DriftAtEnd(const std::vector<double>& series);
// The same, against given limits.
std::optional<DriftFinding> DriftAt(const std::vector<double>& series, std::size_t point,
                                    const ControlLimits& limits);
