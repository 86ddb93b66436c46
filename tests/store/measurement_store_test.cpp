// A run's measurements in the store, for real in SQLite and PostgreSQL: written with the run,
// once however often it is written, read back by history with their limits and outcomes, kept
// by the journal while the store is away, and each port's series read for the drift rule.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "store/MeasurementRows.h"
#include "store/RunJournal.h"
#include "store/RunStore.h"
#include "store/SqlRunStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class MeasurementStoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string why;
        location = FreshStoreLocation(GetParam(), folder.path() + "/line.sqlite", why);
        if (location.empty()) GTEST_SKIP() << why;
    }

    RunRecord run(const std::string& key, const std::string& port, const std::string& started,
                  double program) const {
        RunRecord record;
        record.key = key;
        record.dieId = "0x350A01234567" + key;
        record.chipId = "0x5449000550C10207";
        record.serial = "0001";
        record.station = "bench-1";
        record.port = port;
        record.recipe = "k350a.toml";
        record.startedAt = started;
        record.finishedAt = started;
        record.result = RunResult::Passed;
        record.measurements = {
            Measured("identify.ms", 12, "ms", {}),
            Measured("flash.program_ms.max", program, "ms", {std::nullopt, 3.0, std::nullopt, 2.5}),
        };
        return record;
    }

    TemporaryFolder folder{"k350-measured"};
    std::string location;
};

TEST_P(MeasurementStoreTest, HistoryReadsBackEachRunsMeasurementsInTheirOrder) {
    auto store = OpenRunStore(location);
    RunRecord first = run("a1", "1-1", "2026-12-09T10:00:00Z", 2.75);
    first.id = store->beginRun(first);
    store->finishRun(first);
    RunRecord odd = run("a2", "1-1", "2026-12-09T10:01:00Z", 1.0);
    odd.measurements.push_back(Measured("soak.jitter_ms.worst",
                                        std::numeric_limits<double>::quiet_NaN(), "ms",
                                        {std::nullopt, 20.0, std::nullopt, std::nullopt}));
    store->recordRun(odd);

    const auto runs = OpenRunStore(location, StoreAccess::Read)->history({});
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].measurements, first.measurements);
    EXPECT_EQ(runs[0].measurements[1].outcome, MeasurementOutcome::Marginal);
    ASSERT_EQ(runs[1].measurements.size(), 3u);
    // A value that was no number stays none, and failed.
    EXPECT_TRUE(std::isnan(runs[1].measurements[2].value));
    EXPECT_EQ(runs[1].measurements[2].outcome, MeasurementOutcome::Fail);
    EXPECT_EQ(runs[1].measurements[2].limits.high, 20.0);
}

TEST_P(MeasurementStoreTest, ARunWrittenAgainKeepsItsMeasurementsOnce) {
    auto store = OpenRunStore(location);
    const RunRecord again = run("b1", "1-1", "2026-12-09T10:00:00Z", 2.0);
    store->recordRun(again);
    store->recordRun(again);
    RunRecord begun = run("b2", "1-2", "2026-12-09T10:00:00Z", 2.0);
    begun.id = store->beginRun(begun);
    store->finishRun(begun);
    store->finishRun(begun);
    const auto runs = store->history({});
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].measurements.size(), 2u);
    EXPECT_EQ(runs[1].measurements.size(), 2u);
}

// The journal keeps the measurements with the run and the store gets them on replay.
TEST_P(MeasurementStoreTest, TheJournalKeepsTheMeasurements) {
    RunJournal journal(folder.file("station.journal"));
    const RunRecord kept = run("c1", "1-1", "2026-12-09T10:00:00Z", 2.9);
    journal.keep(kept, location);
    auto store = OpenRunStore(location);
    EXPECT_EQ(journal.replay(*store, location).written, 1);
    const auto runs = store->history({});
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].measurements, kept.measurements);
}

TEST_P(MeasurementStoreTest, APortsSeriesIsItsOwnLatestValuesOldestFirst) {
    auto store = OpenRunStore(location);
    for (int i = 0; i < 6; ++i) {
        const std::string minute = std::to_string(10 + i);
        store->recordRun(
            run("d" + std::to_string(i), "1-1", "2026-12-09T10:" + minute + ":00Z", 1.0 + 0.1 * i));
        store->recordRun(
            run("e" + std::to_string(i), "1-2", "2026-12-09T10:" + minute + ":00Z", 2.0));
    }
    const auto series = store->portSeries("bench-1", "1-1", "flash.program_ms.max", 4);
    ASSERT_EQ(series.size(), 4u);
    EXPECT_DOUBLE_EQ(series.front(), 1.2);
    EXPECT_DOUBLE_EQ(series.back(), 1.5);
    EXPECT_EQ(store->portSeries("bench-2", "1-1", "flash.program_ms.max", 4).size(), 0u);
    EXPECT_EQ(store->portSeries("bench-1", "1-2", "identify.ms", 30).size(), 6u);
}

// The database sums a period's values by name: the moving range of each port's values in run
// order (a run written late at its port, as a journal replays it, takes its place too), marginal
// and failed counted, the latest run's limits.
TEST_P(MeasurementStoreTest, APeriodIsSummedByNameAndItsLatestValuesRead) {
    auto store = OpenRunStore(location);
    store->recordRun(run("f0", "1-2", "2026-12-08T23:00:00Z", 2.4));  // before the period
    store->recordRun(run("f1", "1-1", "2026-12-09T10:00:00Z", 2.0));
    store->recordRun(run("f2", "1-2", "2026-12-09T11:00:00Z", 2.7));
    store->recordRun(run("f3", "1-1", "2026-12-09T12:00:00Z", 3.5));
    store->recordRun(run("f4", "1-1", "2026-12-10T12:00:00Z", 1.0));  // after the period
    auto reader = OpenSqlRunStore(location, StoreAccess::Read);
    ReportFilter filter{"2026-12-09T00:00:00Z", "2026-12-10T00:00:00Z", {}, {}, {}};
    const auto summaries = PeriodSummaries(reader->connection(), filter);
    ASSERT_EQ(summaries.size(), 2u);
    const MeasurementSummary& program = summaries[0];
    EXPECT_EQ(program.name, "flash.program_ms.max");
    EXPECT_EQ(program.unit, "ms");
    EXPECT_EQ(program.count, 3);
    EXPECT_DOUBLE_EQ(program.sum, 8.2);
    EXPECT_DOUBLE_EQ(program.sumSquares, 4 + 2.7 * 2.7 + 3.5 * 3.5);
    EXPECT_EQ(program.min, 2.0);
    EXPECT_EQ(program.max, 3.5);
    EXPECT_DOUBLE_EQ(program.movingRangeSum, (3.5 - 2.0) + (2.7 - 2.4));
    EXPECT_EQ(program.movingRanges, 2);
    EXPECT_EQ(program.marginal, 1);
    EXPECT_EQ(program.failed, 1);
    EXPECT_EQ(program.limits.high, 3.0);
    EXPECT_EQ(summaries[1].name, "identify.ms");
    EXPECT_EQ(summaries[1].movingRangeSum, 0);

    const MeasurementSeries recent =
        RecentSeries(reader->connection(), filter, "flash.program_ms.max", 2);
    EXPECT_EQ(recent.values, (std::vector<double>{2.7, 3.5}));
    EXPECT_EQ(recent.ports[0], (GroupName{"bench-1", "1-2"}));
    EXPECT_EQ(recent.limits.marginalHigh, 2.5);
    filter.port = "1-1";
    EXPECT_EQ(PeriodSummaries(reader->connection(), filter)[0].count, 2);
    const auto rows = PeriodMeasurementRows(reader->connection(), filter);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].at(6), "identify.ms");
    EXPECT_EQ(rows[3].at(11), "fail");
}

// A store of the version before the moving ranges were kept: read as it is, it gives no moving
// range; upgraded by a station, each value gets its port's, as if written today.
TEST_P(MeasurementStoreTest, AnOlderStoreGetsItsMovingRangesWhenUpgraded) {
    {
        auto store = OpenRunStore(location);
        store->recordRun(run("g1", "1-1", "2026-12-09T10:00:00Z", 2.0));
        store->recordRun(run("g2", "1-2", "2026-12-09T10:30:00Z", 1.0));
        store->recordRun(run("g3", "1-1", "2026-12-09T11:00:00Z", 2.6));
    }
    const ReportFilter filter{"2026-12-09T00:00:00Z", "2026-12-10T00:00:00Z", {}, {}, {}};
    {
        auto older = OpenSqlRunStore(location, StoreAccess::Write);
        older->connection().run("UPDATE k350_schema SET version = 7");
        // What later versions added, gone too.
        older->connection().run("DROP TABLE k350_run_tally");
        older->connection().run("DROP TABLE k350_step_tally");
        older->connection().run("DROP INDEX k350_measurements_series");
        older->connection().run("ALTER TABLE k350_measurements DROP COLUMN moving_range");
        // Nor did version 7 know where the boards came from.
        for (const char* column : {"program_version", "operator", "lot", "recipe_sha256"}) {
            older->connection().run(std::string("ALTER TABLE k350_runs DROP COLUMN ") + column);
        }
        older->connection().run("DROP TABLE k350_reference_boards");
    }
    EXPECT_EQ(PeriodSummaries(OpenSqlRunStore(location, StoreAccess::Read)->connection(), filter)[0]
                  .movingRanges,
              0);
    OpenRunStore(location);
    auto reader = OpenSqlRunStore(location, StoreAccess::Read);
    const MeasurementSummary program = PeriodSummaries(reader->connection(), filter)[0];
    EXPECT_EQ(program.count, 3);
    EXPECT_EQ(program.movingRanges, 1);
    EXPECT_NEAR(program.movingRangeSum, 0.6, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Stores, MeasurementStoreTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
