#include "store/RunTally.h"

#include <cstdio>

#include "store/RunStore.h"

namespace {

std::string BucketOf(const char* seconds) {
    std::string sql = "CASE WHEN result <> 'passed' OR " + std::string(seconds) + " IS NULL THEN " +
                      std::to_string(RunTally::kNoBucket);
    int bucket = 0;
    for (double bound : RunTally::kBoardBuckets) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", bound);
        sql +=
            " WHEN " + std::string(seconds) + " <= " + text + " THEN " + std::to_string(bucket++);
    }
    return sql + " ELSE " + std::to_string(bucket) + " END";
}

// Adds (sign 1) or takes back (-1) the chosen runs' counts.
std::string RunCounts(const std::string& sign, const std::string& where) {
    return "INSERT INTO k350_run_tally (station, port, result, bucket, runs, milliseconds)"
           " SELECT station, port, result, " +
           BucketOf("seconds") + ", " + sign + " * COUNT(*), " + sign +
           " * SUM(CASE WHEN result = 'passed' AND seconds IS NOT NULL"
           " THEN CAST(ROUND(seconds * 1000) AS BIGINT) ELSE 0 END)"
           " FROM k350_runs WHERE result <> '" +
           RunResult::Unfinished + "' AND " + where + " GROUP BY station, port, result, " +
           BucketOf("seconds") +
           " ON CONFLICT (station, port, result, bucket) DO UPDATE SET"
           " runs = k350_run_tally.runs + excluded.runs,"
           " milliseconds = k350_run_tally.milliseconds + excluded.milliseconds";
}

std::string StepCounts(const std::string& sign, const std::string& where) {
    return "INSERT INTO k350_step_tally (station, step, failures)"
           " SELECT station, step, " +
           sign + " * COUNT(*) FROM k350_run_steps WHERE ok = 0 AND step IS NOT NULL AND " + where +
           " GROUP BY station, step"
           " ON CONFLICT (station, step) DO UPDATE SET"
           " failures = k350_step_tally.failures + excluded.failures";
}

}  // namespace

std::vector<std::string> RunTally::Schema() {
    return {
        "CREATE TABLE k350_run_tally ("
        " station TEXT NOT NULL, port TEXT NOT NULL, result TEXT NOT NULL, bucket INTEGER NOT NULL,"
        " runs BIGINT NOT NULL, milliseconds BIGINT NOT NULL,"
        " PRIMARY KEY (station, port, result, bucket))",
        "CREATE TABLE k350_step_tally ("
        " station TEXT NOT NULL, step TEXT NOT NULL, failures BIGINT NOT NULL,"
        " PRIMARY KEY (station, step))",
    };
}

void RunTally::withdrawRun(const std::string& where, const SqlValue& which) {
    addRuns("-1", where, which);
}

void RunTally::addRun(std::int64_t runId) {
    addRuns("1", "id = ?", std::to_string(runId));
}

void RunTally::addRuns(const std::string& sign, const std::string& where, const SqlValue& which) {
    db_.run(RunCounts(sign, where), {which});
}

void RunTally::withdrawSteps(std::int64_t runId) {
    addSteps("-1", runId);
}

void RunTally::addSteps(std::int64_t runId) {
    addSteps("1", runId);
}

void RunTally::addSteps(const std::string& sign, std::int64_t runId) {
    db_.run(StepCounts(sign, "run_id = ?"), {std::to_string(runId)});
}

void RunTally::fillAll() {
    db_.run("DELETE FROM k350_run_tally");
    db_.run("DELETE FROM k350_step_tally");
    db_.run(RunCounts("1", "1 = 1"));
    db_.run(StepCounts("1", "1 = 1"));
}
