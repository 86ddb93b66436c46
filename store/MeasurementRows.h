// The measurements' rows: one per measurement of a run, with the run's station, port and start
// beside it so the report and the drift rule read a period or a port's series from the index
// alone. Written in the run's own transaction.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "store/Measurement.h"
#include "store/ReportQueries.h"
#include "store/SqlConnection.h"

struct RunRecord;

// One measurement's values over a period, in run order, with the limits they were judged by
// (the latest run's), how many were marginal or failed, and the port each was taken at.
struct MeasurementSeries {
    std::string name, unit;
    MeasurementLimits limits;
    std::vector<double> values;
    int marginal = 0, failed = 0;
    std::vector<GroupName> ports;  // beside each value
};

// The statements that add the table and its indexes to a store.
const std::vector<std::string>& MeasurementTableStatements();
const std::vector<std::string>& MeasurementIndexStatements();

// Version 8: each value's moving range at its port, kept with it, and the series index that
// holds it.
const std::vector<std::string>& MovingRangeStatements();
const std::vector<std::string>& MovingRangeIndexStatements();

// The run's measurements, replacing any it had: a run written again is written once.
void WriteMeasurements(SqlConnection& db, std::int64_t runId, const RunRecord& run);
// The measurements of the runs of these ids, each run's in the order they were taken.
std::map<std::int64_t, std::vector<Measurement>> ReadMeasurements(
    SqlConnection& db, const std::vector<std::int64_t>& runIds);
// One measurement's values over a period summed by the database: what capability is computed
// from, however many runs the period holds.
struct MeasurementSummary {
    std::string name, unit;
    MeasurementLimits limits;  // the latest run's
    std::int64_t count = 0;
    double sum = 0, sumSquares = 0, min = 0, max = 0;
    // The moving ranges of successive values at each port, in run order: their sum and how many.
    double movingRangeSum = 0;
    std::int64_t movingRanges = 0;
    int marginal = 0, failed = 0;
};

// Every measurement's summary over the filter's period, station, port and recipe, by name.
std::vector<MeasurementSummary> PeriodSummaries(SqlConnection& db, const ReportFilter& filter);
// A measurement's latest `count` values of the period, in run order, with their ports: what its
// chart shows and each port's drift is judged by.
MeasurementSeries RecentSeries(SqlConnection& db, const ReportFilter& filter,
                               const std::string& name, int count);

// Every measurement of the period's runs as rows of (run_id, serial, die_id, station, port,
// started_at, name, value, unit, low, high, outcome), in run order: the long form a quality
// engineer's own tools read.
std::vector<SqlRow> PeriodMeasurementRows(SqlConnection& db, const ReportFilter& filter);

// The last `count` values of a measurement at a port of a station, oldest first.
std::vector<double> PortSeries(SqlConnection& db, const std::string& station,
                               const std::string& port, const std::string& name, int count);
