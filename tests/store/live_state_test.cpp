// The line live in the store: benches and ports written with change numbers in the order they
// commit, read back after a change number, and news of them for a reader that waits, on an
// SQLite file and a real PostgreSQL server.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "store/LiveState.h"
#include "store/LiveWatch.h"
#include "store/RunStore.h"
#include "store/SqlRunStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class LiveStateTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string why;
        location = FreshStoreLocation(GetParam(), folder.file("line.sqlite"), why);
        if (location.empty()) GTEST_SKIP() << why;
        OpenRunStore(location);  // as a station makes the store
        writer = OpenLiveConnection(location, StoreAccess::Write);
    }

    static PortLive Port(const std::string& port, const std::string& step, std::uint32_t done) {
        PortLive row;
        row.bench = "bench-1";
        row.port = port;
        row.dieId = "0x350A000000000001";
        row.serial = "0042";
        row.step = step;
        row.state = "progress";
        row.done = done;
        row.total = 100;
        row.stepSince = row.updatedAt = "2026-12-09T10:00:00Z";
        return row;
    }

    TemporaryFolder folder{"k350-live"};
    std::string location;
    std::unique_ptr<SqlConnection> writer;
};

TEST_P(LiveStateTest, RowsComeBackWhole_AndOnlyThoseChangedAfterTheNumberGiven) {
    LiveState live(*writer);
    BenchLive bench;
    bench.name = "bench-1";
    bench.host = "line2-pc";
    bench.version = "1.2.3";
    bench.recipe = "K-350A, line 2";
    bench.ports = {"1-1.1", "1-1.2"};
    bench.startedAt = bench.heartbeatAt = "2026-12-09T09:00:00Z";
    bench.journalRuns = 3;
    live.writeBench(bench);
    live.writePort(Port("1-1.1", "flash", 10));
    PortLive ended = Port("1-1.2", "board", 0);
    ended.state = ended.lastResult = "failed";
    ended.lastError = "the flash differs from the image first at 0x01F400";
    live.writePort(ended);

    LiveWatch watch(location);
    const LiveChanges all = watch.changedAfter(0);
    ASSERT_EQ(all.benches.size(), 1u);
    EXPECT_EQ(all.benches[0].ports, bench.ports);
    EXPECT_EQ(all.benches[0].journalRuns, 3);
    EXPECT_EQ(all.benches[0].host, "line2-pc");
    ASSERT_EQ(all.ports.size(), 2u);
    EXPECT_EQ(all.ports[0].done, 10u);
    EXPECT_EQ(all.ports[1].lastError, ended.lastError);
    EXPECT_LT(all.benches[0].change, all.ports[0].change);
    EXPECT_LT(all.ports[0].change, all.ports[1].change);
    EXPECT_EQ(all.last, all.ports[1].change);

    // The first port moves on: only it is news, and the bench keeps its journal's count.
    live.writePort(Port("1-1.1", "flash", 60));
    const LiveChanges later = watch.changedAfter(all.last);
    EXPECT_TRUE(later.benches.empty());
    ASSERT_EQ(later.ports.size(), 1u);
    EXPECT_EQ(later.ports[0].done, 60u);
    bench.journalRuns.reset();
    live.writeBench(bench);
    EXPECT_FALSE(watch.changedAfter(later.last).benches.at(0).journalRuns.has_value());
}

// Two benches write as fast as they can while a reader follows with the last number it read:
// it never finds a change numbered at or below a number it already passed, so nothing is missed.
TEST_P(LiveStateTest, AReaderFollowingTheNumbersMissesNoChangeOfWritersAtOnce) {
    constexpr int kWrites = 150;
    std::vector<std::thread> writers;
    for (const std::string port : {"1-1.1", "1-1.2"}) {
        writers.emplace_back([this, port] {
            auto db = OpenLiveConnection(location, StoreAccess::Write);
            LiveState live(*db);
            for (int n = 1; n <= kWrites; ++n) live.writePort(Port(port, "flash", n));
        });
    }
    LiveWatch watch(location);
    std::int64_t cursor = 0;
    std::map<std::string, std::uint32_t> seen;
    std::map<std::string, std::int64_t> seenChange;
    const auto follow = [&] {
        const LiveChanges changes = watch.changedAfter(cursor);
        for (const PortLive& row : changes.ports) {
            if (row.change <= seenChange[row.port]) continue;  // read again, already known
            EXPECT_GT(row.change, cursor) << "a change committed behind the reader";
            EXPECT_GE(row.done, seen[row.port]) << "a port went back";
            seen[row.port] = row.done;
            seenChange[row.port] = row.change;
        }
        cursor = changes.last;
    };
    bool writing = true;
    while (writing) {
        follow();
        writing = false;
        for (const auto& [port, done] : seen) writing |= done < kWrites;
        writing |= seen.size() < 2;
    }
    for (auto& writer : writers) writer.join();
    follow();
    EXPECT_EQ(seen["1-1.1"], std::uint32_t(kWrites));
    EXPECT_EQ(seen["1-1.2"], std::uint32_t(kWrites));
}

TEST_P(LiveStateTest, AWaitingReaderHearsOfAWriteAndOfNothingElse) {
    LiveWatch watch(location);
    while (watch.waitForNews(0)) {
    }  // what opening the store left
    EXPECT_FALSE(watch.waitForNews(LiveWatch::kSqliteLookMs * 2));
    std::thread later([&] { LiveState(*writer).writePort(Port("1-1.1", "verify", 1)); });
    // A safety net only: the news comes as the write commits.
    EXPECT_TRUE(watch.waitForNews(60'000));
    later.join();
    EXPECT_EQ(watch.changedAfter(0).ports.at(0).step, "verify");
}

// A store an older station made has no live tables: the reader sees nothing, and the tables
// once a newer station upgrades it.
TEST_P(LiveStateTest, AStoreWithoutLiveTablesReadsAsEmpty) {
    writer->run("DROP TABLE k350_live_ports");
    writer->run("DROP TABLE k350_live_benches");
    writer->run("DROP TABLE k350_live_clock");
    LiveWatch watch(location);
    EXPECT_TRUE(watch.changedAfter(0).ports.empty());
}

INSTANTIATE_TEST_SUITE_P(Stores, LiveStateTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
