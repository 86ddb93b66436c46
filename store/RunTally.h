// The line's totals, kept by the store in the transaction that writes a run or its steps: the
// ended runs by bench, port, result and board-time bucket (with their milliseconds), and the
// failed steps by bench and step. A scrape of the metrics reads these few rows; counting a year
// of runs at every scrape took seconds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/SqlConnection.h"

class RunTally {
public:
    explicit RunTally(SqlConnection& db) : db_(db) {}

    // Before a run's end is written, again or for the first time: what it counted is taken back
    // (a retried end, or a journal's run the store already had, counts once). `where` picks the
    // run in k350_runs.
    void withdrawRun(const std::string& where, const SqlValue& which);
    // After its end (and its time) was written.
    void addRun(std::int64_t runId);
    // Around the writes of a run's step rows.
    void withdrawSteps(std::int64_t runId);
    void addSteps(std::int64_t runId);
    // Every run counted again: after an upgrade, or a store filled in bulk.
    void fillAll();

    static std::vector<std::string> Schema();
    // The upper bounds of the passed boards' time buckets, in seconds; a bucket is numbered by
    // its bound (the number of bounds for a longer time), -1 for a run that has none.
    static constexpr double kBoardBuckets[] = {60, 90, 120, 180, 240, 300, 450, 600, 900, 1800};
    static constexpr int kNoBucket = -1;

private:
    void addRuns(const std::string& sign, const std::string& where, const SqlValue& which);
    void addSteps(const std::string& sign, std::int64_t runId);

    SqlConnection& db_;
};
