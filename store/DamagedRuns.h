// Runs whose figures cannot be read from their row, as a disk, a hand or an older program may
// leave one: steps that are not JSON or not a list of steps, or a time (the run's or a step's)
// that is not a time as the store writes it. Each is left out of the times and steps the figures
// hold, named by its id and counted, and the upgrade or the report goes on with the rest; its
// result still counts, since those columns are whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/SqlConnection.h"

struct DamagedRun {
    std::int64_t id = 0;
    std::string why;  // "its steps are not JSON"
};

// The damaged runs among those `where` picks (a condition over k350_runs, its values in
// `parameters`), read a page of runs at a time.
std::vector<DamagedRun> FindDamagedRuns(SqlConnection& db, const std::string& where = "1 = 1",
                                        const std::vector<SqlValue>& parameters = {});

// " AND k350_runs.id NOT IN (...)" for a statement over k350_runs; "" when none is damaged.
std::string WithoutDamaged(const std::vector<DamagedRun>& runs);

// The expression over k350_runs, or NULL for a damaged run: a CASE, since a database may test a
// statement's conditions in any order, the one that leaves a run out after the expression.
std::string UnlessDamaged(const std::vector<DamagedRun>& runs, const std::string& expression);

// For the operator: "2 damaged runs left out of the times and steps: run 12 (its steps are not
// JSON), run 40 (...)", the first few named; "" when none is damaged.
std::string DamagedRunsText(const std::vector<DamagedRun>& runs);

// Whether the text is a time as the store writes it: "2026-12-09T10:00:00Z", a fraction of a
// second allowed, a date that exists.
bool IsStoreTime(const std::string& text);
