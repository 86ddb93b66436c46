#include "store/MeasurementRows.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "store/IndexNames.h"
#include "store/ReferenceBoards.h"
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

const std::vector<std::string>& MovingRangeStatements() {
    static const std::vector<std::string> statements{
        "ALTER TABLE k350_measurements ADD COLUMN moving_range DOUBLE PRECISION",
        "UPDATE k350_measurements SET moving_range = d.moving_range"
        " FROM (SELECT run_id, seq, ABS(value - LAG(value) OVER (PARTITION BY station, port, name"
        " ORDER BY started_at, run_id)) AS moving_range FROM k350_measurements) d"
        " WHERE k350_measurements.run_id = d.run_id AND k350_measurements.seq = d.seq",
    };
    return statements;
}

const std::vector<std::string>& MovingRangeIndexStatements() {
    static const std::vector<std::string> statements{
        // A period's figures are read name by name from the series index, so a year is a
        // range of one index per name and needs no sort; the long form reads by run.
        "DROP INDEX IF EXISTS k350_measurements_period",
        "DROP INDEX IF EXISTS k350_measurements_series",
        // A port's latest values are found walking back the series index; a second index by
        // port cost each run's write as much as all the rest of it.
        "DROP INDEX IF EXISTS k350_measurements_port",
        "CREATE INDEX k350_measurements_series ON k350_measurements"
        " (name, started_at, run_id, value, moving_range, outcome, station, port)",
    };
    return statements;
}

namespace {

// Each measurement's last value at the run's port before the run, by name: what its moving
// range is taken from. One statement, so a station's write costs one round trip more.
std::map<std::string, double> PreviousValues(SqlConnection& db, std::int64_t runId,
                                             const RunRecord& run, const std::string& started) {
    std::string names;
    std::vector<SqlValue> parameters{run.station, run.port, started, started,
                                     std::to_string(runId)};
    for (const Measurement& measurement : run.measurements) {
        names += names.empty() ? "(?)" : ", (?)";
        parameters.push_back(measurement.name);
    }
    const auto rows = db.run(
        "SELECT n.column1, (SELECT p.value FROM k350_measurements p"
        " WHERE p.station = ? AND p.port = ? AND p.name = n.column1 AND p.value IS NOT NULL"
        " AND (p.started_at < ? OR (p.started_at = ? AND p.run_id < ?))"
        " ORDER BY p.started_at DESC, p.run_id DESC LIMIT 1) FROM (VALUES " +
            names + ") n",
        parameters);
    std::map<std::string, double> previous;
    for (const SqlRow& row : rows) {
        if (const auto value = NumberOf(row.at(1))) previous[row.at(0).value_or("")] = *value;
    }
    return previous;
}

std::optional<double> MovingRange(const std::map<std::string, double>& previous,
                                  const Measurement& measurement) {
    const auto found = previous.find(measurement.name);
    if (found == previous.end() || !std::isfinite(measurement.value)) return std::nullopt;
    return std::fabs(measurement.value - found->second);
}

}  // namespace

void WriteMeasurements(SqlConnection& db, std::int64_t runId, const RunRecord& run) {
    const std::string id = std::to_string(runId);
    db.run("DELETE FROM k350_measurements WHERE run_id = ?", {id});
    if (run.measurements.empty()) return;
    // One statement for all of them: a station's write stays one round trip longer, not twenty.
    std::string sql =
        "INSERT INTO k350_measurements (run_id, seq, station, port, started_at, name, value,"
        " unit, low, high, marginal_low, marginal_high, outcome, moving_range) VALUES ";
    std::vector<SqlValue> values;
    const std::string started = run.startedAt.empty() ? UtcNow() : run.startedAt;
    const auto previous = PreviousValues(db, runId, run, started);
    for (std::size_t seq = 0; seq < run.measurements.size(); ++seq) {
        const Measurement& measurement = run.measurements[seq];
        const MeasurementLimits& limits = measurement.limits;
        sql += seq ? ", (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                   : "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
        values.insert(
            values.end(),
            {id, std::to_string(seq), run.station, run.port, started, measurement.name,
             NumberValue(measurement.value), measurement.unit, NumberValue(limits.low),
             NumberValue(limits.high), NumberValue(limits.marginalLow),
             NumberValue(limits.marginalHigh), std::string(OutcomeName(measurement.outcome)),
             NumberValue(MovingRange(previous, measurement))});
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

// The filter's conditions on the measurements' own columns (m), the recipe and the origin through
// the run; or on the runs (r), whose index by start finds a period's runs. Reference boards' runs
// left out.
std::string PeriodWhere(SqlConnection& db, const ReportFilter& filter,
                        std::vector<SqlValue>& parameters, const std::string& table = "m") {
    std::string where = " WHERE 1 = 1";
    const auto condition = [&](const std::string& sql, const std::string& value) {
        if (value.empty()) return;
        where += sql;
        parameters.push_back(value);
    };
    condition(" AND " + table + ".started_at >= ?", filter.since);
    condition(" AND " + table + ".started_at < ?", filter.until);
    condition(" AND " + table + ".station = ?", filter.station);
    condition(" AND " + table + ".port = ?", filter.port);
    // A run's own column, on the runs or through the measurement's run.
    const auto ofRun = [&](const std::string& column) {
        return table == "r" ? " AND r." + column + " ?"
                            : " AND m.run_id IN (SELECT id FROM k350_runs WHERE " + column + " ?)";
    };
    condition(ofRun("recipe ="), filter.recipe);
    // A store older than the runs' origins holds none of a lot, image or version asked for.
    if (filter.byOrigin() && !db.hasTable("k350_reference_boards")) return where + " AND 1 = 0";
    condition(ofRun("lot ="), filter.lot);
    if (!filter.image.empty())
        condition(ofRun("image_sha256 LIKE"), ImagePrefixPattern(filter.image));
    condition(ofRun("program_version ="), filter.version);
    return where + WithoutReferenceRunIds(db, table == "r" ? "r.id" : "m.run_id");
}

// Stores before the moving ranges were kept with their values (read as they are, before a
// station upgrades them) give no within deviation.
bool HasMovingRanges(SqlConnection& db) {
    const auto rows = db.run("SELECT version FROM k350_schema");
    return !rows.empty() && std::stoi(rows[0].at(0).value_or("0")) >= 8;
}

}  // namespace

std::vector<MeasurementSummary> PeriodSummaries(SqlConnection& db, const ReportFilter& filter) {
    if (!HasMeasurements(db)) return {};

    std::vector<SqlValue> parameters;
    const std::string where = PeriodWhere(db, filter, parameters) + " AND m.name = ?";
    const std::string movingRange =
        HasMovingRanges(db) ? "m.moving_range" : "CAST(NULL AS DOUBLE PRECISION)";
    std::vector<MeasurementSummary> summaries;
    for (const std::string& name : NamesInIndex(db, "k350_measurements", "name")) {
        std::vector<SqlValue> named = parameters;
        named.push_back(name);
        // Each value's moving range is its port's, kept when it was written.
        const auto rows = db.run(
            "SELECT COUNT(m.value), SUM(m.value), SUM(m.value * m.value), MIN(m.value),"
            " MAX(m.value), SUM(" +
                movingRange + "), COUNT(" + movingRange +
                "), SUM(CASE WHEN m.outcome = 'marginal' THEN 1 ELSE 0 END),"
                " SUM(CASE WHEN m.outcome = 'fail' THEN 1 ELSE 0 END), COUNT(*)"
                " FROM k350_measurements m" +
                where,
            named);
        const SqlRow& row = rows.at(0);
        if (row.at(9).value_or("0") == "0") continue;  // not measured in the period
        MeasurementSummary summary;
        summary.name = name;
        summary.count = std::stoll(row.at(0).value_or("0"));
        summary.sum = NumberOf(row.at(1)).value_or(0);
        summary.sumSquares = NumberOf(row.at(2)).value_or(0);
        summary.min = NumberOf(row.at(3)).value_or(0);
        summary.max = NumberOf(row.at(4)).value_or(0);
        summary.movingRangeSum = NumberOf(row.at(5)).value_or(0);
        summary.movingRanges = std::stoll(row.at(6).value_or("0"));
        summary.marginal = std::stoi(row.at(7).value_or("0"));
        summary.failed = std::stoi(row.at(8).value_or("0"));
        // The latest run's unit and limits.
        const auto limits = db.run(
            "SELECT m.low, m.high, m.marginal_low, m.marginal_high, m.unit"
            " FROM k350_measurements m" +
                where + " ORDER BY m.started_at DESC, m.run_id DESC LIMIT 1",
            named);
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
    const std::string where = PeriodWhere(db, filter, parameters);
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
    const std::string where = PeriodWhere(db, filter, parameters, "r");
    return db.run(
        "SELECT m.run_id, r.serial, r.die_id, m.station, m.port, m.started_at, m.name, m.value,"
        " m.unit, m.low, m.high, m.outcome FROM k350_runs r"
        " JOIN k350_measurements m ON m.run_id = r.id" +
            where + " ORDER BY r.started_at, r.id, m.seq",
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
