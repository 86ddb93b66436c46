#include "store/MeasurementRows.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "store/RunStore.h"

namespace {

// A value that is no number is kept as NULL: SQLite has no NaN.
SqlValue NumberValue(const std::optional<double>& value) {
    if (!value || !std::isfinite(*value)) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", *value);
    return std::string(text);
}

std::optional<double> NumberOf(const SqlValue& value) {
    if (!value) return std::nullopt;
    return std::stod(*value);
}

Measurement MeasurementOf(const SqlRow& row) {
    Measurement measurement;
    measurement.name = row.at(1).value_or("");
    measurement.value = NumberOf(row.at(2)).value_or(std::numeric_limits<double>::quiet_NaN());
    measurement.unit = row.at(3).value_or("");
    measurement.limits = {NumberOf(row.at(4)), NumberOf(row.at(5)), NumberOf(row.at(6)),
                          NumberOf(row.at(7))};
    measurement.outcome =
        OutcomeNamed(row.at(8).value_or("")).value_or(MeasurementOutcome::Unlimited);
    return measurement;
}

// A store read as it is, before an upgrade (`report`, `history` read-only), may be older than
// its measurements: it then has none.
bool HasMeasurements(SqlConnection& db) {
    return db.hasTable("k350_measurements");
}

}  // namespace

const std::vector<std::string>& MeasurementTableStatements() {
    static const std::vector<std::string> statements{
        "CREATE TABLE k350_measurements ("
        " run_id BIGINT NOT NULL, seq INTEGER NOT NULL,"
        " station TEXT NOT NULL, port TEXT NOT NULL, started_at TEXT NOT NULL,"
        " name TEXT NOT NULL, value DOUBLE PRECISION, unit TEXT NOT NULL,"
        " low DOUBLE PRECISION, high DOUBLE PRECISION,"
        " marginal_low DOUBLE PRECISION, marginal_high DOUBLE PRECISION,"
        " outcome TEXT NOT NULL)",
    };
    return statements;
}

const std::vector<std::string>& MeasurementIndexStatements() {
    static const std::vector<std::string> statements{
        "CREATE INDEX k350_measurements_run ON k350_measurements (run_id, seq)",
        "CREATE INDEX k350_measurements_period ON k350_measurements"
        " (started_at, name, value, outcome)",
        "CREATE INDEX k350_measurements_series ON k350_measurements"
        " (name, started_at, run_id, value, outcome)",
        "CREATE INDEX k350_measurements_port ON k350_measurements"
        " (station, port, name, started_at, run_id, value)",
    };
    return statements;
}

void WriteMeasurements(SqlConnection& db, std::int64_t runId, const RunRecord& run) {
    const std::string id = std::to_string(runId);
    db.run("DELETE FROM k350_measurements WHERE run_id = ?", {id});
    if (run.measurements.empty()) return;
    // One statement for all of them: a station's write stays one round trip longer, not twenty.
    std::string sql =
        "INSERT INTO k350_measurements (run_id, seq, station, port, started_at, name, value,"
        " unit, low, high, marginal_low, marginal_high, outcome) VALUES ";
    std::vector<SqlValue> values;
    const std::string started = run.startedAt.empty() ? UtcNow() : run.startedAt;
    for (std::size_t seq = 0; seq < run.measurements.size(); ++seq) {
        const Measurement& measurement = run.measurements[seq];
        const MeasurementLimits& limits = measurement.limits;
        sql += seq ? ", (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                   : "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
        values.insert(
            values.end(),
            {id, std::to_string(seq), run.station, run.port, started, measurement.name,
             NumberValue(measurement.value), measurement.unit, NumberValue(limits.low),
             NumberValue(limits.high), NumberValue(limits.marginalLow),
             NumberValue(limits.marginalHigh), std::string(OutcomeName(measurement.outcome))});
    }
    db.run(sql, values);
}

std::map<std::int64_t, std::vector<Measurement>> ReadMeasurements(
    SqlConnection& db, const std::vector<std::int64_t>& runIds) {
    if (!HasMeasurements(db)) return {};
    std::map<std::int64_t, std::vector<Measurement>> measurements;
    // In slices, so no statement grows past what either database takes in parameters.
    constexpr std::size_t kSlice = 500;
    for (std::size_t from = 0; from < runIds.size(); from += kSlice) {
        std::string marks;
        std::vector<SqlValue> parameters;
        for (std::size_t i = from; i < std::min(runIds.size(), from + kSlice); ++i) {
            marks += marks.empty() ? "?" : ", ?";
            parameters.push_back(std::to_string(runIds[i]));
        }
        const auto rows = db.run(
            "SELECT run_id, name, value, unit, low, high, marginal_low, marginal_high, outcome"
            " FROM k350_measurements WHERE run_id IN (" +
                marks + ") ORDER BY run_id, seq",
            parameters);
        for (const SqlRow& row : rows) {
            measurements[std::stoll(row.at(0).value_or("0"))].push_back(MeasurementOf(row));
        }
    }
    return measurements;
}

namespace {

// The filter's conditions on the measurements' own columns (m), the recipe through its run.
std::string PeriodWhere(const ReportFilter& filter, std::vector<SqlValue>& parameters) {
    std::string where = " WHERE 1 = 1";
    const auto condition = [&](const char* sql, const std::string& value) {
        if (value.empty()) return;
        where += sql;
        parameters.push_back(value);
    };
    condition(" AND m.started_at >= ?", filter.since);
    condition(" AND m.started_at < ?", filter.until);
    condition(" AND m.station = ?", filter.station);
    condition(" AND m.port = ?", filter.port);
    condition(" AND m.run_id IN (SELECT id FROM k350_runs WHERE recipe = ?)", filter.recipe);
    return where;
}

}  // namespace

std::vector<MeasurementSummary> PeriodSummaries(SqlConnection& db, const ReportFilter& filter) {
    if (!HasMeasurements(db)) return {};

    std::vector<SqlValue> parameters;
    const std::string where = PeriodWhere(filter, parameters);
    // Each value's predecessor of the same name in run order, for the moving range.
    const auto rows = db.run(
        "SELECT name, COUNT(value), SUM(value), SUM(value * value), MIN(value),"
        " MAX(value), SUM(ABS(value - previous)), COUNT(value - previous),"
        " SUM(CASE WHEN outcome = 'marginal' THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN outcome = 'fail' THEN 1 ELSE 0 END)"
        " FROM (SELECT m.name, m.value, m.outcome, LAG(m.value) OVER"
        " (PARTITION BY m.name ORDER BY m.started_at, m.run_id) AS previous"
        " FROM k350_measurements m" +
            where + ") v GROUP BY name ORDER BY name",
        parameters);
    std::vector<MeasurementSummary> summaries;
    for (const SqlRow& row : rows) {
        MeasurementSummary summary;
        summary.name = row.at(0).value_or("");
        summary.count = std::stoll(row.at(1).value_or("0"));
        summary.sum = NumberOf(row.at(2)).value_or(0);
        summary.sumSquares = NumberOf(row.at(3)).value_or(0);
        summary.min = NumberOf(row.at(4)).value_or(0);
        summary.max = NumberOf(row.at(5)).value_or(0);
        summary.movingRangeSum = NumberOf(row.at(6)).value_or(0);
        summary.movingRanges = std::stoll(row.at(7).value_or("0"));
        summary.marginal = std::stoi(row.at(8).value_or("0"));
        summary.failed = std::stoi(row.at(9).value_or("0"));
        std::vector<SqlValue> latest = parameters;
        latest.push_back(summary.name);
        // The latest run's unit and limits.
        const auto limits = db.run(
            "SELECT m.low, m.high, m.marginal_low, m.marginal_high, m.unit"
            " FROM k350_measurements m" +
                where + " AND m.name = ? ORDER BY m.started_at DESC, m.run_id DESC LIMIT 1",
            latest);
        if (!limits.empty()) {
            summary.limits = {NumberOf(limits[0].at(0)), NumberOf(limits[0].at(1)),
                              NumberOf(limits[0].at(2)), NumberOf(limits[0].at(3))};
            summary.unit = limits[0].at(4).value_or("");
        }
        summaries.push_back(std::move(summary));
    }
    return summaries;
}

MeasurementSeries RecentSeries(SqlConnection& db, const ReportFilter& filter,
                               const std::string& name, int count) {
    MeasurementSeries series;
    series.name = name;
    if (!HasMeasurements(db)) return series;
    std::vector<SqlValue> parameters;
    const std::string where = PeriodWhere(filter, parameters);
    parameters.push_back(name);
    parameters.push_back(std::to_string(count));
    const auto rows = db.run(
        "SELECT m.unit, m.value, m.outcome, m.low, m.high, m.marginal_low, m.marginal_high,"
        " m.station, m.port FROM k350_measurements m" +
            where +
            " AND m.name = ? AND m.value IS NOT NULL ORDER BY m.started_at DESC, m.run_id DESC"
            " LIMIT ?",
        parameters);
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        series.unit = row->at(0).value_or("");
        series.values.push_back(NumberOf(row->at(1)).value_or(0));
        const std::string outcome = row->at(2).value_or("");
        series.marginal += outcome == OutcomeName(MeasurementOutcome::Marginal);
        series.failed += outcome == OutcomeName(MeasurementOutcome::Fail);
        series.limits = {NumberOf(row->at(3)), NumberOf(row->at(4)), NumberOf(row->at(5)),
                         NumberOf(row->at(6))};
        series.ports.push_back({row->at(7).value_or(""), row->at(8).value_or("")});
    }
    return series;
}

std::vector<SqlRow> PeriodMeasurementRows(SqlConnection& db, const ReportFilter& filter) {
    if (!HasMeasurements(db)) return {};

    std::vector<SqlValue> parameters;
    const std::string where = PeriodWhere(filter, parameters);
    return db.run(
        "SELECT m.run_id, r.serial, r.die_id, m.station, m.port, m.started_at, m.name, m.value,"
        " m.unit, m.low, m.high, m.outcome FROM k350_measurements m"
        " JOIN k350_runs r ON r.id = m.run_id" +
            where + " ORDER BY m.started_at, m.run_id, m.seq",
        parameters);
}

std::vector<double> PortSeries(SqlConnection& db, const std::string& station,
                               const std::string& port, const std::string& name, int count) {
    if (!HasMeasurements(db)) return {};
    const auto rows = db.run(
        "SELECT value FROM k350_measurements WHERE station = ? AND port = ? AND name = ?"
        " AND value IS NOT NULL ORDER BY started_at DESC, run_id DESC LIMIT ?",
        {station, port, name, std::to_string(count)});
    std::vector<double> series;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        series.push_back(NumberOf(row->at(0)).value_or(0));
    }
    return series;
}
