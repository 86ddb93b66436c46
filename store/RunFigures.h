// What the report reads of each run besides the run itself, kept by the store in the transaction
// that writes the run: how long it took, when the same board's previous run started (on the line,
// at the station, at the port; for a passed run, its previous passed run), and its steps as rows.
// With them a year's report counts index entries instead of reading every run's JSON and ordering
// every board's runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/DamagedRuns.h"
#include "store/SqlConnection.h"

class RunFigures {
public:
    explicit RunFigures(SqlConnection& db) : db_(db) {}

    // After a run's first row was written (with `steps`, or without).
    void begun(std::int64_t runId, bool withSteps);
    // After its end was written (RunTally::withdrawRun before that).
    void ended(std::int64_t runId);
    // For every run already in the store but the damaged ones (DamagedRuns), which get no time
    // and no steps; returns those.
    std::vector<DamagedRun> fillAll();

    // The run's time in seconds to the millisecond, over k350_runs' columns; NULL while unfinished.
    static std::string RunSeconds(SqlDialect dialect);
    // A row per step of each run, in k350_run_steps' columns; append a WHERE over k350_runs.
    static std::string StepRows(SqlDialect dialect);

private:
    void keepSteps(const std::vector<SqlValue>& run);
    void keepPriors(const std::vector<SqlValue>& run);

    SqlConnection& db_;
};
