#include "store/RunFigures.h"

#include "store/RunTally.h"

namespace {

// A time as the store writes it, in seconds since the epoch.
std::string EpochSeconds(SqlDialect dialect, const std::string& time) {
    if (dialect == SqlDialect::Sqlite) return "(julianday(" + time + ") * 86400.0)";
    return "EXTRACT(EPOCH FROM CAST(" + time + " AS TIMESTAMPTZ))";
}

std::string Between(SqlDialect dialect, const std::string& from, const std::string& to) {
    return "ROUND(" + EpochSeconds(dialect, to) + " - " + EpochSeconds(dialect, from) + ", 3)";
}

constexpr const char* kPriorColumns[] = {"line", "station", "port"};
constexpr const char* kBoardOf[] = {"die_id", "die_id, station", "die_id, station, port"};
constexpr const char* kSameBoard[] = {"", " AND p.station = k350_runs.station",
                                      " AND p.station = k350_runs.station"
                                      " AND p.port = k350_runs.port"};

// When the same board's latest run before this one (in the order started_at, id) started, among
// its runs at the level: a run is its board's first of a period when that is before the period.
// MAX of an expression, or PostgreSQL reads it from the index of all start times backwards until
// it meets the board, for every run.
std::string PriorStart(const std::string& same) {
    return "(SELECT MAX(p.started_at || '') FROM k350_runs AS p"
           " WHERE p.die_id = k350_runs.die_id" +
           same +
           " AND p.started_at <= k350_runs.started_at"
           " AND (p.started_at < k350_runs.started_at OR p.id < k350_runs.id))";
}

// The previous runs of each run of one board, the board of the run with the id given; a run
// without a die ID is a board of its own and has none.
std::string BoardPriors() {
    std::string sql = "UPDATE k350_runs SET ";
    for (std::size_t level = 0; level < 3; ++level) {
        const std::string column = kPriorColumns[level], same = kSameBoard[level];
        sql += "prior_" + column + " = " + PriorStart(same) + ", prior_pass_" + column +
               " = CASE WHEN result = 'passed' THEN " +
               PriorStart(same + " AND p.result = 'passed'") + " END" + (level < 2 ? ", " : "");
    }
    return sql + " WHERE die_id <> '' AND die_id = (SELECT die_id FROM k350_runs WHERE id = ?)";
}

// The same for every board of more than one run, ordering each board's runs once rather than
// looking them up for each run.
std::string AllPriors(const std::string& prefix, const std::string& runs) {
    std::string sql = "UPDATE k350_runs SET ", windows;
    for (std::size_t level = 0; level < 3; ++level) {
        sql += prefix + kPriorColumns[level] + " = w.p" + std::to_string(level) +
               (level < 2 ? ", " : "");
        windows += ", LAG(started_at) OVER (PARTITION BY " + std::string(kBoardOf[level]) +
                   " ORDER BY started_at, id) AS p" + std::to_string(level);
    }
    return sql + " FROM (SELECT id" + windows +
           " FROM k350_runs WHERE die_id IN (SELECT die_id FROM k350_runs WHERE die_id <> ''"
           " GROUP BY die_id HAVING COUNT(*) > 1)" +
           runs + ") AS w WHERE k350_runs.id = w.id";
}

constexpr const char* kStepColumns =
    "INSERT INTO k350_run_steps (run_id, station, port, recipe, started_at, step, ok, seconds) ";

}  // namespace

std::string RunFigures::RunSeconds(SqlDialect dialect) {
    return Between(dialect, "started_at", "finished_at");
}

std::string RunFigures::StepRows(SqlDialect dialect) {
    const bool sqlite = dialect == SqlDialect::Sqlite;
    const auto field = [&](const char* name) {
        return sqlite ? "json_extract(e.value, '$." + std::string(name) + "')"
                      : "(e.value ->> '" + std::string(name) + "')";
    };
    const std::string elements = sqlite ? "k350_runs, json_each(k350_runs.steps) AS e"
                                        : "k350_runs, json_array_elements(CAST(k350_runs.steps AS "
                                          "JSON)) AS e(value)";
    const std::string succeeded = sqlite ? field("ok") + " = 1" : field("ok") + " = 'true'";
    return "SELECT k350_runs.id AS run_id, station, port, recipe, started_at, " + field("step") +
           " AS step, CASE WHEN " + succeeded + " THEN 1 ELSE 0 END AS ok, " +
           Between(dialect, field("started"), field("finished")) + " AS seconds FROM " + elements;
}

void RunFigures::begun(std::int64_t runId, bool withSteps) {
    const std::vector<SqlValue> run{std::to_string(runId)};
    if (withSteps) {
        keepSteps(run);
        RunTally(db_).addSteps(runId);
    }
    keepPriors(run);
}

void RunFigures::ended(std::int64_t runId) {
    const std::vector<SqlValue> run{std::to_string(runId)};
    RunTally tally(db_);
    db_.run("UPDATE k350_runs SET seconds = " + RunSeconds(db_.dialect()) + " WHERE id = ?", run);
    tally.withdrawSteps(runId);
    db_.run("DELETE FROM k350_run_steps WHERE run_id = ?", run);
    keepSteps(run);
    tally.addSteps(runId);
    tally.addRun(runId);
    keepPriors(run);
}

void RunFigures::keepSteps(const std::vector<SqlValue>& run) {
    db_.run(
        kStepColumns + StepRows(db_.dialect()) + " WHERE k350_runs.id = ? AND steps IS NOT NULL",
        run);
}

void RunFigures::keepPriors(const std::vector<SqlValue>& run) {
    // Most boards pass at their first run: a board of one run has no previous run to find.
    const auto runs = db_.run(
        "SELECT COUNT(*) FROM k350_runs"
        " WHERE die_id = (SELECT die_id FROM k350_runs WHERE id = ?) AND die_id <> ''",
        run);
    const bool alone = runs.empty() || !runs[0].at(0) || std::stoll(*runs[0][0]) < 2;
    if (!alone) db_.run(BoardPriors(), run);
}

std::vector<DamagedRun> RunFigures::fillAll() {
    const SqlDialect dialect = db_.dialect();
    const std::vector<DamagedRun> damaged = FindDamagedRuns(db_);
    const std::string whole = WithoutDamaged(damaged);
    db_.run("UPDATE k350_runs SET seconds = " + RunSeconds(dialect) + " WHERE 1 = 1" + whole);
    db_.run("DELETE FROM k350_run_steps");
    db_.run(kStepColumns + StepRows(dialect) + " WHERE steps IS NOT NULL" + whole);
    // A board of one run has none before it: its columns are empty already.
    db_.run(AllPriors("prior_", ""));
    db_.run(AllPriors("prior_pass_", " AND result = 'passed'"));
    return damaged;
}
