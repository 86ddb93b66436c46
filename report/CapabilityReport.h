// The report's measurements: each one's capability over the period (weakest first), the ports
// whose series drift by the run rules, and their forms: a text table, JSON, CSV, an individuals
// control chart with a histogram as inline SVG, and the long-form CSV of every measurement.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "report/Capability.h"
#include "store/DriftRule.h"
#include "store/MeasurementRows.h"

struct PortDrift {
    GroupName port;
    std::string name;
    DriftFinding finding;
};

struct CapabilityFigures {
    std::vector<Capability> capability;  // weakest first
    std::vector<MeasurementSeries> series;
    std::vector<PortDrift> drifts;  // by measurement, then port: where the latest value drifts

    const MeasurementSeries* seriesNamed(const std::string& name) const;
};

// Read-only, over the filter's period, station, port and recipe: capability from the
// database's sums over all of it, the charts and the drift from the latest values.
CapabilityFigures ReadCapability(SqlConnection& db, const ReportFilter& filter);
// The figures of series already read: capability, and each port's latest drift.
CapabilityFigures CapabilityOfSeries(std::vector<MeasurementSeries> series);

std::string CapabilityText(const CapabilityFigures& figures);
nlohmann::ordered_json CapabilityJson(const CapabilityFigures& figures);  // the `capability` list
nlohmann::ordered_json DriftJson(const CapabilityFigures& figures);       // {alert: drift, ...}
std::string CapabilityCsv(const CapabilityFigures& figures);
// One measurement's individuals chart (values in run order, centre line, the control limits,
// its low and high limits) and its histogram against the limits.
std::string CapabilitySvg(const Capability& capability, const MeasurementSeries& series);
// The long form: a row per measurement of each run of the period, with a header.
std::string MeasurementsLongCsv(const std::vector<SqlRow>& rows);
