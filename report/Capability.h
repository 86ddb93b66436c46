// The process capability of one measurement over a period: how its spread sits in its limits.
// Pure arithmetic over the values in run order, so it is tested against an independent
// computation.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "store/DriftRule.h"
#include "store/Measurement.h"
#include "store/MeasurementRows.h"

struct Capability {
    std::string name, unit;
    std::size_t count = 0;
    double mean = 0, min = 0, max = 0;
    // Within: from the average moving range (the short-term spread); overall: the sample
    // standard deviation. None for fewer than two values.
    std::optional<double> sigmaWithin, sigmaOverall;
    std::optional<double> low, high;
    // Cp/Pp need both limits; Cpk/Ppk take the nearer one, or the only one. None without a
    // limit or without spread.
    std::optional<double> cp, cpk, pp, ppk;
    int marginal = 0, failed = 0;
};

// From the database's sums over a period, or from values at hand; the same formulas either way.
Capability CapabilityOf(const MeasurementSummary& summary);
Capability CapabilityOf(const MeasurementSeries& series);
MeasurementSummary SummaryOf(const MeasurementSeries& series);
// The weakest first: the lowest Cpk (Ppk where Cpk is none), those with neither last, each
// part by name.
std::vector<Capability> WeakestFirst(std::vector<Capability> capabilities);

// Equal-width bins over the values and the limits, so the limits fall inside the picture.
struct Histogram {
    double from = 0, width = 0;
    std::vector<int> counts;
};
Histogram HistogramOf(const std::vector<double>& values, const MeasurementLimits& limits, int bins);
