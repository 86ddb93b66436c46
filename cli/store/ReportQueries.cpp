#include "cli/store/ReportQueries.h"

#include <cmath>
#include <string_view>

namespace {

// Statements name their group as g_station and g_port, so that one text serves every level.
std::string GroupKeys(ReportLevel level) {
    switch (level) {
        case ReportLevel::Line:
            return "'' AS g_station, '' AS g_port";
        case ReportLevel::Station:
            return "station AS g_station, '' AS g_port";
        case ReportLevel::Port:
            break;
    }
    return "station AS g_station, port AS g_port";
}

std::string Replaced(std::string text, std::string_view from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string Text(const SqlRow& row, std::size_t column) {
    return row.at(column).value_or("");
}

std::int64_t Count(const SqlRow& row, std::size_t column) {
    const SqlValue& value = row.at(column);
    return value ? std::int64_t(std::stod(*value)) : 0;
}

std::optional<double> Seconds(const SqlRow& row, std::size_t column) {
    const SqlValue& value = row.at(column);
    if (!value) return std::nullopt;
    return double(std::llround(std::stod(*value) * 1000)) / 1000;  // to the millisecond
}

GroupName GroupOf(const SqlRow& row) {
    return {Text(row, 0), Text(row, 1)};
}

// A run with a verdict on the board; an interrupted or unfinished run has none.
constexpr const char* kJudged = "result IN ('passed', 'failed', 'unusable')";

}  // namespace

std::string ReportQueries::where() const {
    std::string sql = "started_at >= ? AND started_at < ?";
    if (!filter_.station.empty()) sql += " AND station = ?";
    if (!filter_.port.empty()) sql += " AND port = ?";
    if (!filter_.recipe.empty()) sql += " AND recipe = ?";
    return sql;
}

std::vector<SqlValue> ReportQueries::parameters() const {
    std::vector<SqlValue> values{filter_.since, filter_.until};
    for (const std::string* value : {&filter_.station, &filter_.port, &filter_.recipe}) {
        if (!value->empty()) values.push_back(*value);
    }
    return values;
}

std::string ReportQueries::seconds(const std::string& time) const {
    if (dialect_ == SqlDialect::Sqlite) return "(julianday(" + time + ") * 86400.0)";
    return "EXTRACT(EPOCH FROM CAST(" + time + " AS TIMESTAMPTZ))";
}

// Each statement names RUN_FILTER once, before any parameter of its own.
std::vector<SqlRow> ReportQueries::run(const std::string& sql, ReportLevel level,
                                       std::vector<SqlValue> extra) {
    std::vector<SqlValue> values = parameters();
    values.insert(values.end(), extra.begin(), extra.end());
    return db_.run(Replaced(Replaced(sql, "GROUP_KEYS", GroupKeys(level)), "RUN_FILTER", where()),
                   values);
}

std::vector<RunCounts> ReportQueries::counts(ReportLevel level) {
    const std::string sql =
        "WITH r AS (SELECT GROUP_KEYS, result, started_at, id,"
        " COALESCE(NULLIF(die_id, ''), 'run ' || CAST(id AS TEXT)) AS board"
        " FROM k350_runs WHERE RUN_FILTER),"
        " f AS (SELECT r.*, ROW_NUMBER() OVER"
        " (PARTITION BY g_station, g_port, board ORDER BY started_at, id) AS nth FROM r)"
        " SELECT g_station, g_port, COUNT(*), COUNT(DISTINCT board),"
        " SUM(CASE WHEN result = 'passed' THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN result = 'failed' THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN result = 'unusable' THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN result = 'interrupted' THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN result = 'unfinished' THEN 1 ELSE 0 END),"
        " COUNT(DISTINCT CASE WHEN result = 'passed' THEN board END),"
        " SUM(CASE WHEN nth = 1 AND " +
        std::string(kJudged) +
        " THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN nth = 1 AND result = 'passed' THEN 1 ELSE 0 END)"
        " FROM f GROUP BY g_station, g_port ORDER BY g_station, g_port";
    std::vector<RunCounts> out;
    for (const SqlRow& row : run(sql, level)) {
        RunCounts counts;
        counts.group = GroupOf(row);
        counts.runs = Count(row, 2);
        counts.boards = Count(row, 3);
        counts.passed = Count(row, 4);
        counts.failed = Count(row, 5);
        counts.unusable = Count(row, 6);
        counts.interrupted = Count(row, 7);
        counts.unfinished = Count(row, 8);
        counts.boardsPassed = Count(row, 9);
        counts.firstRunsJudged = Count(row, 10);
        counts.firstRunsPassed = Count(row, 11);
        out.push_back(counts);
    }
    return out;
}

std::vector<TimeCount> ReportQueries::boardTimes() {
    const std::string sql = "WITH d AS (SELECT GROUP_KEYS, ROUND(" + seconds("finished_at") +
                            " - " + seconds("started_at") +
                            ", 3) AS s FROM k350_runs WHERE RUN_FILTER AND result = 'passed'"
                            " AND finished_at IS NOT NULL)"
                            " SELECT g_station, g_port, s, COUNT(*) FROM d"
                            " GROUP BY g_station, g_port, s";
    std::vector<TimeCount> out;
    for (const SqlRow& row : run(sql, ReportLevel::Port)) {
        out.push_back({GroupOf(row), {}, true, Seconds(row, 2).value_or(-1), Count(row, 3)});
    }
    return out;
}

std::vector<TimeCount> ReportQueries::stepTimes() {
    const bool sqlite = dialect_ == SqlDialect::Sqlite;
    const auto field = [&](const char* name) {
        return sqlite ? "json_extract(e.value, '$." + std::string(name) + "')"
                      : "(e.value ->> '" + std::string(name) + "')";
    };
    const std::string elements = sqlite ? "k350_runs, json_each(k350_runs.steps) AS e"
                                        : "k350_runs, json_array_elements(CAST(k350_runs.steps AS "
                                          "JSON)) AS e(value)";
    const std::string succeeded = sqlite ? field("ok") + " = 1" : field("ok") + " = 'true'";
    const std::string sql = "WITH d AS (SELECT GROUP_KEYS, " + field("step") +
                            " AS step, CASE WHEN " + succeeded +
                            " THEN 1 ELSE 0 END AS ok, ROUND(" + seconds(field("finished")) +
                            " - " + seconds(field("started")) + ", 3) AS s FROM " + elements +
                            " WHERE RUN_FILTER AND steps IS NOT NULL)"
                            " SELECT g_station, g_port, step, ok, s, COUNT(*) FROM d"
                            " GROUP BY g_station, g_port, step, ok, s";
    std::vector<TimeCount> out;
    for (const SqlRow& row : run(sql, ReportLevel::Port)) {
        // A step without its times (-1) counts, but not towards the percentiles.
        out.push_back({GroupOf(row), Text(row, 2), Text(row, 3) == "1",
                       Seconds(row, 4).value_or(-1), Count(row, 5)});
    }
    return out;
}

std::vector<FailureCount> ReportQueries::failures(ReportLevel level) {
    const std::string sql =
        "WITH r AS (SELECT GROUP_KEYS, COALESCE(failed_step, '') AS step,"
        " COALESCE(error, '') AS error FROM k350_runs"
        " WHERE RUN_FILTER AND result IN ('failed', 'unusable'))"
        " SELECT g_station, g_port, step, error, COUNT(*) AS n FROM r"
        " GROUP BY g_station, g_port, step, error"
        " ORDER BY g_station, g_port, n DESC, step, error";
    std::vector<FailureCount> out;
    for (const SqlRow& row : run(sql, level)) {
        out.push_back({GroupOf(row), Text(row, 2), Text(row, 3), Count(row, 4)});
    }
    return out;
}

std::vector<HourCount> ReportQueries::hours(ReportLevel level) {
    const std::string sql =
        "WITH r AS (SELECT GROUP_KEYS, SUBSTR(finished_at, 1, 13) AS hour, result"
        " FROM k350_runs WHERE RUN_FILTER AND finished_at IS NOT NULL AND " +
        std::string(kJudged) +
        ")"
        " SELECT g_station, g_port, hour, COUNT(*),"
        " SUM(CASE WHEN result = 'passed' THEN 1 ELSE 0 END)"
        " FROM r GROUP BY g_station, g_port, hour ORDER BY g_station, g_port, hour";
    std::vector<HourCount> out;
    for (const SqlRow& row : run(sql, level)) {
        out.push_back({GroupOf(row), Text(row, 2), Count(row, 3), Count(row, 4)});
    }
    return out;
}

std::vector<RecentRun> ReportQueries::recentRuns(int perPort) {
    const std::string sql =
        "WITH r AS (SELECT station, port, result, failed_step, ROW_NUMBER() OVER"
        " (PARTITION BY station, port ORDER BY started_at DESC, id DESC) AS n"
        " FROM k350_runs WHERE RUN_FILTER AND " +
        std::string(kJudged) +
        ")"
        " SELECT station, port, result, failed_step FROM r WHERE n <= CAST(? AS INTEGER)"
        " ORDER BY station, port, n";
    std::vector<RecentRun> out;
    for (const SqlRow& row : run(sql, ReportLevel::Port, {std::to_string(perPort)})) {
        out.push_back({Text(row, 0), Text(row, 1), Text(row, 2) == "passed", Text(row, 3)});
    }
    return out;
}
