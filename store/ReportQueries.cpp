#include "store/ReportQueries.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <string_view>

#include "store/IndexNames.h"
#include "store/ReferenceBoards.h"
#include "store/RunFigures.h"

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

// The levels a board's previous run is kept for, as RunFigures names its columns, in the order
// of ReportLevel.
constexpr const char* kPriorLevels[] = {"line", "station", "port"};

// A board's first run of the period (at a level) is one whose previous run started before the
// period, or that has none.
std::string FirstOfPeriod(const std::string& level, const std::string& prior = "prior_") {
    return "(" + prior + level + " IS NULL OR " + prior + level + " < b.since)";
}

// Adds a port's row of portCounts to a group, its boards as counted at `level`.
void AddPort(RunCounts& sum, const SqlRow& row, ReportLevel level) {
    sum.runs += Count(row, 2);
    sum.passed += Count(row, 3);
    sum.failed += Count(row, 4);
    sum.unusable += Count(row, 5);
    sum.interrupted += Count(row, 6);
    sum.unfinished += Count(row, 7);
    const std::size_t first = 8 + 4 * std::size_t(level);
    sum.boards += Count(row, first);
    sum.boardsPassed += Count(row, first + 1);
    sum.firstRunsJudged += Count(row, first + 2);
    sum.firstRunsPassed += Count(row, first + 3);
}

// A share of the store above which SQLite is better told to read the period from the indexes
// ordered as each statement groups: it cannot know how many runs a period holds and would
// otherwise take every run of a year through the index of start times, then order them.
constexpr std::int64_t kWideShare = 8;

}  // namespace

ReportQueries::ReportQueries(SqlConnection& db, ReportFilter filter)
    : db_(db), dialect_(db.dialect()), filter_(std::move(filter)) {
    knowsOrigin_ = db_.hasTable("k350_reference_boards");
    withoutReference_ = WithoutReferenceRuns(db_);
    keptFigures_ = db_.hasTable("k350_run_steps");
    if (!keptFigures_) damaged_ = FindDamagedRuns(db_, where(), parameters());
    if (dialect_ != SqlDialect::Sqlite || !keptFigures_) return;
    const auto inPeriod =
        db_.run("SELECT COUNT(*) FROM k350_runs WHERE started_at >= ? AND started_at < ?",
                {filter_.since, filter_.until});
    const auto all = db_.run("SELECT MAX(id) FROM k350_runs");
    wide_ = Count(inPeriod.at(0), 0) * kWideShare > Count(all.at(0), 0);
}

std::string ReportQueries::where(bool byRecipe) const {
    return conditions(byRecipe) + withoutReference_;
}

std::string ReportQueries::conditions(bool byRecipe) const {
    const std::string time = wide_ ? unindexed("started_at") : "started_at";
    std::string sql = time + " >= ? AND " + time + " < ?";
    if (!filter_.station.empty()) sql += " AND station = ?";
    if (!filter_.port.empty()) sql += " AND port = ?";
    if (byRecipe && !filter_.recipe.empty()) sql += " AND recipe = ?";
    return sql + originConditions();
}

std::string ReportQueries::originConditions() const {
    if (!filter_.byOrigin()) return {};
    // A store older than the runs' origins holds no run of any lot, image or version asked for.
    if (!knowsOrigin_) return " AND 1 = 0";
    std::string sql;
    if (!filter_.lot.empty()) sql += " AND lot = ?";
    if (!filter_.image.empty()) sql += " AND image_sha256 LIKE ?";
    if (!filter_.version.empty()) sql += " AND program_version = ?";
    return sql;
}

// The steps' rows name their run but not its board or origin: those are looked up by the run.
std::string ReportQueries::stepsWhere(bool ofReferenceRuns) const {
    const std::string time = wide_ ? unindexed("started_at") : "started_at";
    std::string sql = time + " >= ? AND " + time + " < ?";
    if (!filter_.station.empty()) sql += " AND station = ?";
    if (!filter_.port.empty()) sql += " AND port = ?";
    if (!filter_.recipe.empty()) sql += " AND recipe = ?";
    if (filter_.byOrigin()) {
        sql += " AND run_id IN (SELECT id FROM k350_runs WHERE 1 = 1" + originConditions() + ")";
    }
    if (ofReferenceRuns) {
        sql +=
            " AND run_id IN (SELECT id FROM k350_runs WHERE die_id IN"
            " (SELECT die_id FROM k350_reference_boards))";
    }
    return sql;
}

std::vector<SqlValue> ReportQueries::parameters(bool byRecipe) const {
    std::vector<SqlValue> values{filter_.since, filter_.until};
    for (const std::string* value : {&filter_.station, &filter_.port, &filter_.recipe}) {
        if (!value->empty() && (byRecipe || value != &filter_.recipe)) values.push_back(*value);
    }
    if (!knowsOrigin_) return values;
    if (!filter_.lot.empty()) values.push_back(filter_.lot);
    if (!filter_.image.empty()) values.push_back(ImagePrefixPattern(filter_.image));
    if (!filter_.version.empty()) values.push_back(filter_.version);
    return values;
}

// Each statement names RUN_FILTER once, before any parameter of its own.
std::vector<SqlRow> ReportQueries::run(const std::string& sql, ReportLevel level,
                                       std::vector<SqlValue> extra) {
    std::vector<SqlValue> values = parameters();
    values.insert(values.end(), extra.begin(), extra.end());
    return db_.run(Replaced(Replaced(sql, "GROUP_KEYS", GroupKeys(level)), "RUN_FILTER", where()),
                   values);
}

std::string ReportQueries::unindexed(const std::string& column) const {
    return dialect_ == SqlDialect::Sqlite ? "+" + column : column;
}

bool ReportQueries::countsFromPriors() {
    if (!countsFromPriors_) {
        countsFromPriors_ = keptFigures_ && (filter_.port.empty() || !filter_.station.empty()) &&
                            !filter_.byOrigin() && (filter_.recipe.empty() || recipeOfEveryRun());
    }
    return *countsFromPriors_;
}

bool ReportQueries::recipeOfEveryRun() {
    std::vector<SqlValue> values = parameters(false);
    values.push_back(filter_.recipe);
    const auto others = db_.run("SELECT COUNT(*) FROM k350_runs WHERE " + where(false) +
                                    " AND (recipe IS NULL OR recipe <> ?)",
                                values);
    return Count(others.at(0), 0) == 0;
}

std::vector<RunCounts> ReportQueries::counts(ReportLevel level) {
    if (!countsFromPriors()) return boardsInOrder(level);
    // Within the station or port the reader chose, the line is that station or port.
    const ReportLevel narrowest = !filter_.port.empty()      ? ReportLevel::Port
                                  : !filter_.station.empty() ? ReportLevel::Station
                                                             : ReportLevel::Line;
    const ReportLevel boards = std::max(level, narrowest);
    std::vector<RunCounts> out;
    std::map<std::pair<std::string, std::string>, std::size_t> at;
    for (const SqlRow& row : portCounts()) {
        GroupName name = GroupOf(row);
        if (level != ReportLevel::Port) name.port.clear();
        if (level == ReportLevel::Line) name.station.clear();
        const auto [found, added] = at.emplace(std::pair(name.station, name.port), out.size());
        if (added) out.push_back({.group = name});
        AddPort(out[found->second], row, boards);
    }
    addRetests(out, level);
    return out;
}

// A board of one run in the period passed at its second run, and at its last, as it did at its
// first. Only the boards retested in the period are read run by run, and their first runs'
// share taken back.
void ReportQueries::addRetests(std::vector<RunCounts>& counts, ReportLevel level) {
    const std::vector<RunCounts>& again = retested(level);
    for (RunCounts& group : counts) {
        group.secondRunsPassed = group.firstRunsPassed;
        group.lastRunsJudged = group.firstRunsJudged;
        group.lastRunsPassed = group.firstRunsPassed;
        const auto board = std::find_if(again.begin(), again.end(),
                                        [&](const RunCounts& r) { return r.group == group.group; });
        if (board == again.end()) continue;
        group.secondRunsPassed += board->secondRunsPassed - board->firstRunsPassed;
        group.lastRunsJudged += board->lastRunsJudged - board->firstRunsJudged;
        group.lastRunsPassed += board->lastRunsPassed - board->firstRunsPassed;
    }
}

// Each port's runs by result, and for each level the boards whose first run of the period (their
// first passed run) is at the port: summed over ports, those are the level's boards.
const std::vector<SqlRow>& ReportQueries::portCounts() {
    if (portCounts_) return *portCounts_;
    std::string sql =
        "WITH r AS (SELECT station, port, result, prior_line, prior_station, prior_port,"
        " prior_pass_line, prior_pass_station, prior_pass_port FROM k350_runs WHERE RUN_FILTER),"
        " b AS (SELECT CAST(? AS TEXT) AS since)"
        " SELECT station, port, COUNT(*)";
    for (const char* result : {"passed", "failed", "unusable", "interrupted", "unfinished"}) {
        sql += ", SUM(CASE WHEN result = '" + std::string(result) + "' THEN 1 ELSE 0 END)";
    }
    for (const char* level : kPriorLevels) {
        const std::string first = FirstOfPeriod(level);
        sql += ", SUM(CASE WHEN " + first + " THEN 1 ELSE 0 END)";
        sql += ", SUM(CASE WHEN result = 'passed' AND " + FirstOfPeriod(level, "prior_pass_") +
               " THEN 1 ELSE 0 END)";
        sql += ", SUM(CASE WHEN " + first + " AND " + kJudged + " THEN 1 ELSE 0 END)";
        sql += ", SUM(CASE WHEN " + first + " AND result = 'passed' THEN 1 ELSE 0 END)";
    }
    sql += " FROM r, b GROUP BY station, port ORDER BY station, port";
    portCounts_ = run(sql, ReportLevel::Port, {filter_.since});
    return *portCounts_;
}

namespace {

// Each board's runs in order within each group of `level`, from the runs of the CTE r: their
// counts by group, the level's number first.
std::string BoardsInOrderSelect(ReportLevel level) {
    const std::string group = "PARTITION BY g_station, g_port, board";
    return "SELECT " + std::to_string(int(level)) +
           ", g_station, g_port, COUNT(*), COUNT(DISTINCT board),"
           " SUM(CASE WHEN result = 'passed' THEN 1 ELSE 0 END),"
           " SUM(CASE WHEN result = 'failed' THEN 1 ELSE 0 END),"
           " SUM(CASE WHEN result = 'unusable' THEN 1 ELSE 0 END),"
           " SUM(CASE WHEN result = 'interrupted' THEN 1 ELSE 0 END),"
           " SUM(CASE WHEN result = 'unfinished' THEN 1 ELSE 0 END),"
           " COUNT(DISTINCT CASE WHEN result = 'passed' THEN board END),"
           " SUM(CASE WHEN nth = 1 AND judged = 1 THEN 1 ELSE 0 END),"
           " SUM(CASE WHEN nth = 1 AND result = 'passed' THEN 1 ELSE 0 END),"
           " COUNT(DISTINCT CASE WHEN nth <= 2 AND first_judged = 1 AND result = 'passed'"
           " THEN board END),"
           " SUM(CASE WHEN back = 1 AND judged = 1 THEN 1 ELSE 0 END),"
           " SUM(CASE WHEN back = 1 AND judged = 1 AND result = 'passed' THEN 1 ELSE 0 END)"
           " FROM (SELECT k.*,"
           " ROW_NUMBER() OVER (" +
           group +
           " ORDER BY started_at, id) AS nth,"
           " FIRST_VALUE(judged) OVER (" +
           group +
           " ORDER BY started_at, id) AS first_judged,"
           " ROW_NUMBER() OVER (" +
           group +
           ", judged ORDER BY started_at DESC, id DESC) AS back"
           " FROM (SELECT " +
           GroupKeys(level) +
           ", result, started_at, id, judged, board FROM r)"
           " AS k) AS f GROUP BY g_station, g_port";
}

RunCounts BoardsInOrderCounts(const SqlRow& row) {
    RunCounts counts;
    counts.group = {Text(row, 1), Text(row, 2)};
    std::int64_t* const fields[] = {&counts.runs,
                                    &counts.boards,
                                    &counts.passed,
                                    &counts.failed,
                                    &counts.unusable,
                                    &counts.interrupted,
                                    &counts.unfinished,
                                    &counts.boardsPassed,
                                    &counts.firstRunsJudged,
                                    &counts.firstRunsPassed,
                                    &counts.secondRunsPassed,
                                    &counts.lastRunsJudged,
                                    &counts.lastRunsPassed};
    for (std::size_t i = 0; i < std::size(fields); ++i) *fields[i] = Count(row, 3 + i);
    return counts;
}

// Adds the counts of other boards of a group to the group's, or the group.
void AddBoards(std::vector<RunCounts>& groups, const RunCounts& more) {
    const auto group = std::find_if(groups.begin(), groups.end(),
                                    [&](const RunCounts& g) { return g.group == more.group; });
    if (group == groups.end()) {
        groups.push_back(more);
        return;
    }
    for (auto field :
         {&RunCounts::runs, &RunCounts::boards, &RunCounts::passed, &RunCounts::failed,
          &RunCounts::unusable, &RunCounts::interrupted, &RunCounts::unfinished,
          &RunCounts::boardsPassed, &RunCounts::firstRunsJudged, &RunCounts::firstRunsPassed,
          &RunCounts::secondRunsPassed, &RunCounts::lastRunsJudged, &RunCounts::lastRunsPassed}) {
        (*group).*field += more.*field;
    }
}

}  // namespace

// The same counts from the runs themselves: each board's runs in order, in each group.
std::vector<RunCounts> ReportQueries::boardsInOrder(ReportLevel level) {
    std::vector<RunCounts> out;
    for (const SqlRow& row :
         db_.run(boardRuns("") + BoardsInOrderSelect(level) + " ORDER BY g_station, g_port",
                 parameters())) {
        out.push_back(BoardsInOrderCounts(row));
    }
    return out;
}

// The runs of the period as the CTE r, each with whether it has a verdict and its board (a run
// without a die ID is a board of its own); `only` narrows them.
std::string ReportQueries::boardRuns(const std::string& only) const {
    return std::string("WITH r AS (SELECT station, port, result, started_at, id, CASE WHEN ") +
           kJudged +
           " THEN 1 ELSE 0 END AS judged,"
           " COALESCE(NULLIF(die_id, ''), 'run ' || CAST(id AS TEXT)) AS board"
           " FROM k350_runs WHERE " +
           where() + only + ") ";
}

// The boards retested in the period (a run whose previous one at the line falls in it), read
// run by run once for every level. Their die IDs first, then their runs by the index of die IDs
// in slices, so that each database looks up a board's runs rather than choosing a plan of its
// own over the whole store; a board's runs are all in one slice, so slices add up.
const std::vector<RunCounts>& ReportQueries::retested(ReportLevel level) {
    if (retested_) return (*retested_)[std::size_t(level)];
    retested_.emplace();
    std::vector<SqlValue> values = parameters();
    values.push_back(filter_.since);
    const auto boards = db_.run("SELECT DISTINCT die_id FROM k350_runs WHERE " + where() +
                                    " AND prior_line >= ? AND die_id <> ''",
                                values);
    constexpr std::size_t kSlice = 500;
    for (std::size_t first = 0; first < boards.size(); first += kSlice) {
        const std::size_t end = std::min(boards.size(), first + kSlice);
        std::vector<SqlValue> slice = parameters();
        std::string marks;
        for (std::size_t i = first; i < end; ++i) {
            marks += i == first ? "?" : ", ?";
            slice.push_back(boards[i].at(0));
        }
        const std::string sql = boardRuns(" AND die_id IN (" + marks + ")") +
                                BoardsInOrderSelect(ReportLevel::Line) + " UNION ALL " +
                                BoardsInOrderSelect(ReportLevel::Station) + " UNION ALL " +
                                BoardsInOrderSelect(ReportLevel::Port);
        for (const SqlRow& row : db_.run(sql, slice)) {
            AddBoards((*retested_)[std::size_t(Count(row, 0))], BoardsInOrderCounts(row));
        }
    }
    return (*retested_)[std::size_t(level)];
}

std::vector<TimeCount> ReportQueries::boardTimes() {
    const std::string seconds =
        keptFigures_ ? "seconds" : UnlessDamaged(damaged_, RunFigures::RunSeconds(dialect_));
    // A day's passed runs by their start; a year's from the index of results in group order.
    const std::string result = wide_ ? "result" : unindexed("result");
    const std::string sql = "SELECT GROUP_KEYS, " + seconds + " AS s, COUNT(*) FROM k350_runs" +
                            " WHERE RUN_FILTER AND " + result + " = 'passed' AND " + seconds +
                            " IS NOT NULL GROUP BY g_station, g_port, s";
    std::vector<TimeCount> out;
    for (const SqlRow& row : run(sql, ReportLevel::Port)) {
        out.push_back({GroupOf(row), {}, true, Seconds(row, 2).value_or(-1), Count(row, 3)});
    }
    return out;
}

std::vector<TimeCount> ReportQueries::stepTimes() {
    // A store of an older k350ctl keeps only the steps' JSON.
    const std::string steps = keptFigures_ ? "k350_run_steps"
                                           : "(" + RunFigures::StepRows(dialect_) +
                                                 " WHERE steps IS NOT NULL" +
                                                 WithoutDamaged(damaged_) + ") AS s";
    const auto counted = [&](bool ofReferenceRuns) {
        const std::string sql = "SELECT " + GroupKeys(ReportLevel::Port) +
                                ", step, ok, seconds, COUNT(*) FROM " + steps + " WHERE " +
                                stepsWhere(ofReferenceRuns) +
                                " GROUP BY g_station, g_port, step, ok, seconds";
        std::vector<TimeCount> out;
        for (const SqlRow& row : db_.run(sql, parameters())) {
            // A step without its times (-1) counts, but not towards the percentiles.
            out.push_back({GroupOf(row), Text(row, 2), Text(row, 3) == "1",
                           Seconds(row, 4).value_or(-1), Count(row, 5)});
        }
        return out;
    };
    if (withoutReference_.empty()) return counted(false);
    // The index of the steps' times has no run id: a year of steps looked up one by one would
    // take seconds. The reference boards' few steps are counted apart and taken away.
    std::vector<TimeCount> all = counted(false);
    for (const TimeCount& reference : counted(true)) {
        for (TimeCount& count : all) {
            if (count.group == reference.group && count.step == reference.step &&
                count.ok == reference.ok && count.seconds == reference.seconds) {
                count.count -= reference.count;
            }
        }
    }
    std::erase_if(all, [](const TimeCount& count) { return count.count <= 0; });
    return all;
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
    // Never by the index of results: a day by its start, a year from the index of hours.
    const std::string sql =
        "SELECT GROUP_KEYS, SUBSTR(finished_at, 1, 13) AS hour, COUNT(*),"
        " SUM(CASE WHEN result = 'passed' THEN 1 ELSE 0 END) FROM k350_runs"
        " WHERE RUN_FILTER AND SUBSTR(finished_at, 1, 13) IS NOT NULL AND " +
        unindexed("result") +
        " IN ('passed', 'failed', 'unusable')"
        " GROUP BY g_station, g_port, hour ORDER BY g_station, g_port, hour";
    std::vector<HourCount> out;
    for (const SqlRow& row : run(sql, level)) {
        out.push_back({GroupOf(row), Text(row, 2), Count(row, 3), Count(row, 4)});
    }
    return out;
}

// The stations, or the filter's one, and the ports of each that ever had a run: from the index of
// ports a name at a time (a loose index scan), so that a year of runs is not read to list them.
// A port without a run in the period adds no run to what is read of it.
std::vector<std::pair<std::string, std::string>> ReportQueries::ports() {
    const std::vector<std::string> stations = filter_.station.empty()
                                                  ? NamesInIndex(db_, "k350_runs", "station")
                                                  : std::vector{filter_.station};
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& station : stations) {
        const std::vector<std::string> names =
            filter_.port.empty() ? NamesInIndex(db_, "k350_runs", "port", "station = ?", {station})
                                 : std::vector{filter_.port};
        for (const std::string& port : names) out.emplace_back(station, port);
    }
    return out;
}

// A port at a time, from the newest run back: a year of runs is never ordered to find the last.
std::vector<RecentRun> ReportQueries::recentRuns(int perPort) {
    const std::string sql =
        "SELECT result, failed_step FROM k350_runs WHERE RUN_FILTER AND station = ? AND port = ?"
        " AND " +
        std::string(kJudged) + " ORDER BY started_at DESC, id DESC LIMIT CAST(? AS INTEGER)";
    std::vector<RecentRun> out;
    for (const auto& [station, port] : ports()) {
        for (const SqlRow& row :
             run(sql, ReportLevel::Port, {station, port, std::to_string(perPort)})) {
            out.push_back({station, port, Text(row, 0) == "passed", Text(row, 1)});
        }
    }
    return out;
}

std::vector<ReferenceCount> ReportQueries::referenceBoards() {
    if (!knowsOrigin_) return {};
    const std::string sql =
        "SELECT b.die_id, b.kind, COUNT(r.result),"
        " SUM(CASE WHEN r.result = 'passed' THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN r.result IN ('failed', 'unusable') THEN 1 ELSE 0 END)"
        " FROM k350_reference_boards AS b LEFT JOIN (SELECT die_id, result FROM k350_runs"
        " WHERE " +
        conditions() +
        " AND die_id IN (SELECT die_id FROM k350_reference_boards)) AS r ON r.die_id = b.die_id"
        " GROUP BY b.die_id, b.kind ORDER BY b.die_id";
    std::vector<ReferenceCount> out;
    for (const SqlRow& row : db_.run(sql, parameters())) {
        out.push_back({Text(row, 0), Text(row, 1), Count(row, 2), Count(row, 3), Count(row, 4)});
    }
    return out;
}

std::string ImagePrefixPattern(const std::string& image) {
    std::string pattern;
    for (char c : image) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return "!";
        pattern += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return pattern + "%";
}

std::map<std::string, RecentVerdicts> VerdictsByStation(const std::vector<RecentRun>& runs) {
    std::map<std::string, RecentVerdicts> byStation;
    for (const RecentRun& run : runs) {
        byStation[run.station][run.port].push_back({run.passed, run.failedStep});
    }
    return byStation;
}

RecentVerdicts StationVerdicts(SqlConnection& db, const std::string& station, int perPort) {
    // Every time the store can hold: ISO 8601 texts of UTC, compared as text.
    ReportQueries queries(db, {.since = "0000", .until = "9999", .station = station});
    return VerdictsByStation(queries.recentRuns(perPort))[station];
}
