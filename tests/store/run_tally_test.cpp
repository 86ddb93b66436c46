// The totals the store keeps for the metrics: after runs begun and ended, ends retried, a
// journal's runs written once and again, and an upgrade of a store that had runs, they are what
// counting every run gives, on an SQLite file and a real PostgreSQL server.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "store/PostgresConnection.h"
#include "store/RunStore.h"
#include "store/RunTally.h"
#include "store/SqlRunStore.h"
#include "store/SqliteConnection.h"
#include "tests/support/OlderStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TemporaryFolder.h"

namespace {

using Figures = std::map<std::string, long long>;

Figures Rows(SqlConnection& db, const std::string& sql) {
    Figures figures;
    for (const SqlRow& row : db.run(sql)) {
        std::string key;
        for (std::size_t column = 0; column + 1 < row.size(); ++column) {
            key += row[column].value_or("NULL") + " ";
        }
        const long long value = std::stoll(row.back().value_or("0"));
        if (value != 0) figures[key] = value;
    }
    return figures;
}

std::string Steps(const char* failedStep) {
    std::string steps = R"([{"step":"flash","started":"2026-12-09T10:00:00Z",)"
                        R"("finished":"2026-12-09T10:00:40Z","ok":)";
    steps += failedStep && std::string(failedStep) == "flash" ? "false}" : "true}";
    if (!failedStep || std::string(failedStep) != "flash") {
        steps += R"(,{"step":"verify","started":"2026-12-09T10:00:40Z",)"
                 R"("finished":"2026-12-09T10:00:50Z","ok":)";
        steps += failedStep ? "false}" : "true}";
    }
    return steps + "]";
}

class RunTallyTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string why;
        location = FreshStoreLocation(GetParam(), folder.file("line.sqlite"), why);
        if (location.empty()) GTEST_SKIP() << why;
    }

    RunRecord run(int board, const std::string& port, const char* result,
                  const char* failedStep = nullptr, const std::string& finished = "10:01:10") {
        RunRecord record;
        record.key = "bench-1-" + std::to_string(board) + "-" + port;
        record.dieId = "0x350A00000000000" + std::to_string(board % 10);
        record.chipId = "0xC1";
        record.serial = "00" + std::to_string(10 + board);
        record.station = board % 2 ? "bench-1" : "bench-2";
        record.port = port;
        record.recipe = "k350a.toml";
        record.startedAt = "2026-12-09T10:00:00Z";
        record.finishedAt = "2026-12-09T" + finished + "Z";
        record.result = result;
        if (failedStep) record.failedStep = failedStep;
        record.steps = Steps(failedStep);
        return record;
    }

    // The tally against every run counted: the runs by bench, port and result, the passed boards'
    // milliseconds and buckets by bench, the failed steps by bench and step.
    void expectTallyCountsEveryRun() {
        const auto store = OpenSqlRunStore(location, StoreAccess::Read);
        SqlConnection& db = store->connection();
        EXPECT_EQ(Rows(db,
                       "SELECT station, port, result, SUM(runs) FROM k350_run_tally"
                       " GROUP BY station, port, result"),
                  Rows(db,
                       "SELECT station, port, result, COUNT(*) FROM k350_runs"
                       " WHERE result <> 'unfinished' GROUP BY station, port, result"));
        EXPECT_EQ(Rows(db,
                       "SELECT station, SUM(milliseconds) FROM k350_run_tally"
                       " WHERE result = 'passed' GROUP BY station"),
                  Rows(db,
                       "SELECT station, SUM(CAST(ROUND(seconds * 1000) AS BIGINT)) FROM k350_runs"
                       " WHERE result = 'passed' GROUP BY station"));
        Figures buckets;
        for (const SqlRow& row :
             db.run("SELECT station, seconds FROM k350_runs WHERE result = 'passed'")) {
            int bucket = RunTally::kNoBucket;
            if (row[1]) {
                const double seconds = std::stod(*row[1]);
                bucket = 0;
                for (double bound : RunTally::kBoardBuckets) {
                    if (seconds <= bound) break;
                    ++bucket;
                }
            }
            ++buckets[*row[0] + " " + std::to_string(bucket) + " "];
        }
        EXPECT_EQ(Rows(db,
                       "SELECT station, bucket, SUM(runs) FROM k350_run_tally"
                       " WHERE result = 'passed' GROUP BY station, bucket"),
                  buckets);
        EXPECT_EQ(Rows(db, "SELECT station, step, failures FROM k350_step_tally"),
                  Rows(db,
                       "SELECT station, step, COUNT(*) FROM k350_run_steps WHERE ok = 0"
                       " GROUP BY station, step"));
    }

    TemporaryFolder folder{"k350-tally"};
    std::string location;
};

}  // namespace

TEST_P(RunTallyTest, EachEndedRunCountsOnceHoweverOftenItsEndIsWritten) {
    auto store = OpenRunStore(location);
    for (int board = 1; board <= 6; ++board) {
        RunRecord record = run(board, "1-1." + std::to_string(board % 3),
                               board % 3 ? RunResult::Passed : RunResult::Failed,
                               board % 3 ? nullptr : (board == 3 ? "flash" : "verify"),
                               board == 4 ? "10:00:50" : "10:01:10");
        record.id = store->beginRun(record);
        store->finishRun(record);
        // The first commit reached the store before the connection was lost: written again.
        if (board == 2) store->finishRun(record);
    }
    // Still under way, or its station died: no count.
    RunRecord open = run(7, "1-1.1", RunResult::Unfinished);
    open.id = store->beginRun(open);
    // A journal's runs: one the store never had, written twice (a replay cut short and done
    // again), and one it had begun.
    const RunRecord journaled = run(8, "1-1.2", RunResult::Failed, "verify");
    store->recordRun(journaled);
    store->recordRun(journaled);
    RunRecord begun = run(9, "1-1.2", RunResult::Passed, nullptr, "10:30:00");
    begun.id = store->beginRun(begun);
    store->recordRun(begun);
    // A run whose end was first written as interrupted, then as what the board came to.
    RunRecord changed = run(10, "1-1.1", RunResult::Interrupted, "verify");
    changed.id = store->beginRun(changed);
    store->finishRun(changed);
    changed.result = RunResult::Passed;
    changed.failedStep.clear();
    changed.steps = Steps(nullptr);
    store->finishRun(changed);

    expectTallyCountsEveryRun();
    const auto reader = OpenSqlRunStore(location, StoreAccess::Read);
    EXPECT_EQ(
        Rows(reader->connection(), "SELECT result, SUM(runs) FROM k350_run_tally GROUP BY result"),
        (Figures{{"failed ", 3}, {"passed ", 6}}));
}

// A store upgraded from before its totals counts the runs it already had.
TEST_P(RunTallyTest, AnUpgradedStoreCountsTheRunsItHad) {
    {
        const std::unique_ptr<SqlConnection> db =
            IsPostgresLocation(location)
                ? std::unique_ptr<SqlConnection>(
                      std::make_unique<PostgresConnection>(location, StoreAccess::Write))
                : std::make_unique<SqliteConnection>(location, StoreAccess::Write);
        SqlConnection& connection = *db;
        MakeOlderStore(connection, 8);  // the version before the totals
        AddOlderBoard(connection, 8, "0x01", 41);
        AddOlderRun(connection, "0x01", "0041");
    }
    auto store = OpenRunStore(location);
    RunRecord record = run(1, "1-1.1", RunResult::Failed, "flash");
    record.id = store->beginRun(record);
    store->finishRun(record);
    expectTallyCountsEveryRun();
    const auto reader = OpenSqlRunStore(location, StoreAccess::Read);
    EXPECT_EQ(Rows(reader->connection(),
                   "SELECT result, SUM(runs) FROM k350_run_tally"
                   " GROUP BY result"),
              (Figures{{"failed ", 1}, {"passed ", 1}}));
}

INSTANTIATE_TEST_SUITE_P(Stores, RunTallyTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });
