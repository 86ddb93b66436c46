// The line's figures for a period, counted in the database: the runs are grouped and counted by
// SQL, so a year of runs never crosses the connection. Only reads.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/DamagedRuns.h"
#include "store/PortAlertRule.h"
#include "store/SqlConnection.h"

struct ReportFilter {
    std::string since{}, until{};  // ISO 8601 in UTC: runs started at or after since, before until
    std::string station{}, port{}, recipe{};  // empty: any
    // Where the boards came from: their lot, the image written (its SHA-256 or the start of it)
    // and the k350ctl that ran them; empty: any.
    std::string lot{}, image{}, version{};

    bool byOrigin() const { return !lot.empty() || !image.empty() || !version.empty(); }
};

// The LIKE pattern of an image's SHA-256 or the start of it, in any case; one that is not
// hexadecimal matches no image (and so holds no wildcard of the caller's).
std::string ImagePrefixPattern(const std::string& image);

// What the figures are grouped by: the whole line, each station, each port of each station.
enum class ReportLevel { Line, Station, Port };

struct GroupName {
    std::string station, port;  // empty above the level
    bool operator==(const GroupName&) const = default;
};

struct RunCounts {
    GroupName group;
    std::int64_t runs = 0, boards = 0;
    std::int64_t passed = 0, failed = 0, unusable = 0, interrupted = 0, unfinished = 0;
    std::int64_t boardsPassed = 0;  // boards with a passed run
    // Boards whose first run (in the period, in the group) ended with a verdict, and those of
    // them that passed.
    std::int64_t firstRunsJudged = 0, firstRunsPassed = 0;
    // Of those, the boards that passed at their first or second run.
    std::int64_t secondRunsPassed = 0;
    // Boards with a run that ended with a verdict, and those whose latest such run passed.
    std::int64_t lastRunsJudged = 0, lastRunsPassed = 0;
};

// A reference board's runs in the period, kept out of the figures.
struct ReferenceCount {
    std::string dieId, kind;
    std::int64_t runs = 0, passed = 0, failed = 0;
};

// How many runs (or steps) took so many seconds: the database counts, the report finds the
// median and the 95th percentile in it, and sums the ports' counts for a station or the line.
struct TimeCount {
    GroupName group;
    std::string step;  // empty for a whole run
    bool ok = true;    // the step succeeded
    double seconds = 0;
    std::int64_t count = 0;
};

// Times in seconds, nearest rank.
struct Durations {
    GroupName group;
    std::optional<double> median, p95;
};

struct StepFigures {
    GroupName group;
    std::string step;
    std::int64_t runs = 0, failed = 0;
    std::optional<double> median, p95;  // of the runs in which the step succeeded
};

struct FailureCount {
    GroupName group;
    std::string step, error;
    std::int64_t count = 0;
};

struct HourCount {
    GroupName group;
    std::string hour;  // UTC, "2026-12-09T10"
    std::int64_t ended = 0, passed = 0;
};

// One of the last runs with a verdict at a port, the most recent first.
struct RecentRun {
    std::string station, port;
    bool passed = false;
    std::string failedStep;
};

class ReportQueries {
public:
    ReportQueries(SqlConnection& db, ReportFilter filter);

    std::vector<RunCounts> counts(ReportLevel level);
    // By port, to the millisecond: the passed runs' times and the steps' times.
    std::vector<TimeCount> boardTimes();
    std::vector<TimeCount> stepTimes();
    std::vector<FailureCount> failures(ReportLevel level);  // most frequent first in each group
    std::vector<HourCount> hours(ReportLevel level);
    // Each port's last `perPort` runs that ended with a verdict, by station and port.
    std::vector<RecentRun> recentRuns(int perPort);
    // The reference boards (golden, known-bad) with their runs in the period, by die ID.
    std::vector<ReferenceCount> referenceBoards();
    // The period's runs left out of the times and steps: a store that keeps its figures left
    // them out when it filled them in; one of an older k350ctl is looked at now.
    const std::vector<DamagedRun>& damagedRuns() const { return damaged_; }

private:
    // Whether the store keeps its runs' figures (RunFigures), and whether they answer the board
    // counts of this filter: a board's previous run is kept per line, station and port, not per
    // recipe or per port name across stations. A recipe that every run of the period was made
    // with (one recipe on the line) excludes no run, so the figures answer for it as well.
    bool countsFromPriors();
    bool recipeOfEveryRun();
    // Each board's runs in order, in each group: first, second and last runs judged and passed.
    std::vector<RunCounts> boardsInOrder(ReportLevel level);
    std::string boardRuns(const std::string& only) const;
    // The same of the boards with more than one run in the period, at a level.
    const std::vector<RunCounts>& retested(ReportLevel level);
    void addRetests(std::vector<RunCounts>& counts, ReportLevel level);
    const std::vector<SqlRow>& portCounts();
    std::vector<std::pair<std::string, std::string>> ports();
    // The filter's condition and its values; without the recipe when `byRecipe` is false.
    std::string where(bool byRecipe = true) const;
    // The same, reference boards' runs included.
    std::string conditions(bool byRecipe = true) const;
    std::string originConditions() const;  // the lot, image and version asked for
    // The filter over the steps' rows, all of them or only the reference boards'.
    std::string stepsWhere(bool ofReferenceRuns) const;
    // A unary plus keeps SQLite from choosing an index by this column; the result is the same.
    // A wide period is best read from the indexes in group order, a narrow one by start time.
    std::string unindexed(const std::string& column) const;
    std::vector<SqlValue> parameters(bool byRecipe = true) const;
    std::vector<SqlRow> run(const std::string& sql, ReportLevel level,
                            std::vector<SqlValue> extra = {});

    SqlConnection& db_;
    SqlDialect dialect_;
    ReportFilter filter_;
    bool keptFigures_ = false;
    bool wide_ = false;  // the period holds much of the store
    std::optional<bool> countsFromPriors_;
    std::optional<std::vector<SqlRow>> portCounts_;
    std::optional<std::array<std::vector<RunCounts>, 3>> retested_;  // by ReportLevel
    std::vector<DamagedRun> damaged_;
    std::string withoutReference_;  // the condition that leaves reference boards' runs out
    bool knowsOrigin_ = false;      // the store keeps lots, versions (schema 8 on)
};

// Each station's ports with their recent verdicts, as SuspectPorts judges them.
std::map<std::string, RecentVerdicts> VerdictsByStation(const std::vector<RecentRun>& runs);

// The last `perPort` verdicts of each port of one station, however long ago they were given:
// where the station's watch over its ports starts, so that a new start goes on counting.
RecentVerdicts StationVerdicts(SqlConnection& db, const std::string& station, int perPort);
