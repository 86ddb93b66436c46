// The production line's run store, for real: an SQLite file in the process and a PostgreSQL
// server the test starts itself, through the same interface and schema.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "cli/store/RunStore.h"
#include "cli/store/SqliteConnection.h"
#include "tests/support/PostgresServer.h"

namespace {

// One server for the whole program: starting one takes seconds on a loaded machine.
PostgresServer& Server() {
    static PostgresServer server;
    return server;
}

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/k350-store-XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class StoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        static int databases = 0;
        if (GetParam() == "sqlite") {
            location = folder.path() + "/line.sqlite";
            return;
        }
        if (!Server().available()) GTEST_SKIP() << "PostgreSQL: " << Server().problem();
        location = Server().createDatabase("line" + std::to_string(++databases));
        ASSERT_FALSE(location.empty());
    }

    RunRecord run(const std::string& die, const std::string& serial) const {
        RunRecord record;
        record.dieId = die;
        record.chipId = "0x5449000550C10207";
        record.serial = serial;
        record.station = "bench-1";
        record.port = "1-1.3";
        record.recipe = "k350a.toml";
        record.imageSha256 = std::string(64, 'a');
        record.configSha256 = std::string(64, 'c');
        record.startedAt = "2026-12-09T10:00:00Z";
        return record;
    }

    TempFolder folder;
    std::string location;
};

TEST_P(StoreTest, SerialsCountUpInFixedWidthAndAReturningBoardKeepsItsOwn) {
    auto store = OpenRunStore(location);
    EXPECT_EQ(store->serialFor("0x01", "0xC1"), "0001");
    EXPECT_EQ(store->serialFor("0x02", "0xC2"), "0002");
    EXPECT_EQ(store->serialFor("0x01", "0xC1"), "0001");
    // Reopened (the schema is already there): the sequence goes on.
    store = OpenRunStore(location);
    EXPECT_EQ(store->serialFor("0x03", "0xC3"), "0003");
    EXPECT_EQ(store->serialFor("0x02", "0xC2"), "0002");
}

TEST_P(StoreTest, RunsAreUnfinishedUntilTheirEndIsRecordedAndHistoryFindsThem) {
    auto store = OpenRunStore(location);
    RunRecord first = run("0x01", store->serialFor("0x01", "0xC1"));
    first.id = store->beginRun(first);
    RunRecord second = run("0x02", store->serialFor("0x02", "0xC2"));
    second.startedAt = "2026-12-10T08:00:00Z";
    second.id = store->beginRun(second);
    EXPECT_NE(first.id, second.id);
    EXPECT_FALSE(store->hasPassed("0x01"));

    first.result = RunResult::Passed;
    first.finishedAt = "2026-12-09T10:01:00Z";
    first.steps = R"([{"step":"flash","ok":true}])";
    first.soakErroneousPercent = 0.25;
    first.soakLostPercent = 0;
    first.soakJitterMs = 1.5;
    store->finishRun(first);
    EXPECT_TRUE(store->hasPassed("0x01"));

    const auto all = store->history({});
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].result, "passed");
    EXPECT_EQ(all[0].serial, "0001");
    EXPECT_EQ(all[0].station, "bench-1");
    EXPECT_EQ(all[0].port, "1-1.3");
    EXPECT_EQ(all[0].steps, first.steps);
    EXPECT_EQ(all[0].soakErroneousPercent, 0.25);
    EXPECT_EQ(all[0].soakJitterMs, 1.5);
    EXPECT_EQ(all[0].imageSha256, std::string(64, 'a'));
    EXPECT_EQ(all[1].result, "unfinished");  // its station never said how it ended
    EXPECT_FALSE(all[1].soakLostPercent.has_value());

    EXPECT_EQ(store->history({.serial = "0002"}).size(), 1u);
    EXPECT_EQ(store->history({.dieId = "0x01"}).at(0).id, first.id);
    EXPECT_EQ(store->history({.since = "2026-12-10"}).at(0).id, second.id);
    EXPECT_TRUE(store->history({.serial = "0009"}).empty());
}

// Stations on separate connections take serials at once: never the same one twice, and no gaps.
TEST_P(StoreTest, ConcurrentStationsGetUniqueConsecutiveSerials) {
    OpenRunStore(location);  // the schema, made once
    std::mutex mutex;
    std::multiset<std::string> serials;
    std::vector<std::thread> stations;
    for (int station = 0; station < 4; ++station) {
        stations.emplace_back([&, station] {
            auto store = OpenRunStore(location);
            for (int board = 0; board < 8; ++board) {
                const std::string die = "0x" + std::to_string(station * 100 + board);
                const std::string serial = store->serialFor(die, "0xC1");
                RunRecord record = run(die, serial);
                record.id = store->beginRun(record);
                std::lock_guard lock(mutex);
                serials.insert(serial);
            }
        });
    }
    for (auto& station : stations) station.join();
    std::multiset<std::string> expected;
    for (int n = 1; n <= 32; ++n) expected.insert(SerialText(n));
    EXPECT_EQ(serials, expected);
    EXPECT_EQ(OpenRunStore(location)->history({}).size(), 32u);
}

TEST_P(StoreTest, AStoreFromANewerK350ctlIsRefused) {
    OpenRunStore(location);
    {
        auto store = OpenRunStore(location);
        store.reset();
    }
    if (GetParam() == "sqlite") {
        SqliteConnection(location).run("UPDATE k350_schema SET version = 99");
        EXPECT_THROW(OpenRunStore(location), StoreError);
    }
    EXPECT_THROW(OpenRunStore(folder.path() + "/no/such/folder/line.sqlite"), StoreError);
    EXPECT_THROW(OpenRunStore("postgresql:///none?host=/nonexistent&connect_timeout=2"),
                 StoreError);
}

INSTANTIATE_TEST_SUITE_P(Databases, StoreTest, ::testing::Values("sqlite", "postgresql"));

TEST(StoreSerials, TheSequenceEndsWhereTheFourCharacterFieldDoes) {
    TempFolder folder;
    const std::string location = folder.path() + "/line.sqlite";
    auto store = OpenRunStore(location);
    SqliteConnection(location).run(
        "INSERT INTO k350_boards VALUES ('0xFF', '0xC1', 9999, '9999', '2026-01-01T00:00:00Z')");
    EXPECT_THROW(store->serialFor("0x01", "0xC1"), StoreError);
    EXPECT_EQ(store->serialFor("0xFF", "0xC1"), "9999");  // a board that has one keeps it
    EXPECT_EQ(SerialText(7), "0007");
}

}  // namespace
