// The production line's run store, for real: an SQLite file in the process and a PostgreSQL
// server the test starts itself, through the same interface and schema.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <barrier>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "store/PostgresConnection.h"
#include "store/RetryingRunStore.h"
#include "store/RunStore.h"
#include "store/SqlRunStore.h"
#include "store/SqliteConnection.h"
#include "store/StoreText.h"
#include "tests/support/OlderStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/VirtualClock.h"

namespace {

// One server for the whole program: starting one takes seconds on a loaded machine.
class TempFolder : public TemporaryFolder {
public:
    TempFolder() : TemporaryFolder("k350-store") {}
};

class StoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string why;
        location = FreshStoreLocation(GetParam(), folder.path() + "/line.sqlite", why);
        if (location.empty()) GTEST_SKIP() << why;
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
    EXPECT_EQ(store->serialFor("0x01", "0xC1", {}), "0001");
    EXPECT_EQ(store->serialFor("0x02", "0xC2", {}), "0002");
    EXPECT_EQ(store->serialFor("0x01", "0xC1", {}), "0001");
    // Reopened (the schema is already there): the sequence goes on.
    store = OpenRunStore(location);
    EXPECT_EQ(store->serialFor("0x03", "0xC3", {}), "0003");
    EXPECT_EQ(store->serialFor("0x02", "0xC2", {}), "0002");
}

TEST_P(StoreTest, RunsAreUnfinishedUntilTheirEndIsRecordedAndHistoryFindsThem) {
    auto store = OpenRunStore(location);
    RunRecord first = run("0x01", store->serialFor("0x01", "0xC1", {}));
    first.id = store->beginRun(first);
    RunRecord second = run("0x02", store->serialFor("0x02", "0xC2", {}));
    second.startedAt = "2026-12-10T08:00:00Z";
    second.id = store->beginRun(second);
    EXPECT_NE(first.id, second.id);
    EXPECT_EQ(store->passedSerial("0x01"), std::nullopt);

    first.result = RunResult::Passed;
    first.finishedAt = "2026-12-09T10:01:00Z";
    first.steps = R"([{"step":"flash","ok":true}])";
    first.soakErroneousPercent = 0.25;
    first.soakLostPercent = 0;
    first.soakJitterMs = 1.5;
    store->finishRun(first);
    EXPECT_EQ(store->passedSerial("0x01"), "0001");

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
                const std::string serial = store->serialFor(die, "0xC1", {});
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

std::unique_ptr<SqlConnection> Connect(const std::string& location, StoreAccess access) {
    if (IsPostgresLocation(location)) return std::make_unique<PostgresConnection>(location, access);
    return std::make_unique<SqliteConnection>(location, access);
}

std::string Message(const std::function<void()>& work) {
    try {
        work();
    } catch (const StoreError& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

// A reader changes nothing: not a missing store, not a database that holds no store, and it
// writes nothing through its own connection either.
TEST_P(StoreTest, AReaderCreatesNothingAndWritesNothing) {
    EXPECT_THAT(Message([&] { OpenRunStore(location, StoreAccess::Read); }),
                ::testing::HasSubstr(GetParam() == "sqlite" ? "no store" : "not a k350 store"));
    if (GetParam() == "sqlite") {
        EXPECT_FALSE(std::filesystem::exists(location));
        std::ofstream(location).flush();  // an empty file is no store either
        EXPECT_THROW(OpenRunStore(location, StoreAccess::Read), StoreError);
        EXPECT_EQ(std::filesystem::file_size(location), 0u);
        std::filesystem::remove(location);
    } else {
        EXPECT_FALSE(Connect(location, StoreAccess::Write)->hasTable("k350_schema"));
    }
    OpenRunStore(location)->serialFor("0x01", "0xC1", {});
    EXPECT_TRUE(OpenRunStore(location, StoreAccess::Read)->history({}).empty());
    const auto reader = Connect(location, StoreAccess::Read);
    EXPECT_THROW(reader->run("DELETE FROM k350_boards"), StoreError);
    EXPECT_THROW(reader->run("CREATE TABLE k350_more (a INTEGER)"), StoreError);
    EXPECT_EQ(Connect(location, StoreAccess::Write)->run("SELECT COUNT(*) FROM k350_boards"),
              (std::vector<SqlRow>{{SqlValue("1")}}));
}

// A station holds the write lock in the middle of a transaction: the reader neither waits for
// it nor sees what it has not committed.
TEST_P(StoreTest, AReaderAnswersWhileAWriterHoldsTheLock) {
    auto store = OpenRunStore(location);
    RunRecord first = run("0x01", store->serialFor("0x01", "0xC1", {}));
    first.id = store->beginRun(first);
    const auto writer = Connect(location, StoreAccess::Write);
    writer->beginExclusive();
    writer->run("UPDATE k350_runs SET result = 'passed'");
    const auto started = std::chrono::steady_clock::now();
    const auto runs = OpenRunStore(location, StoreAccess::Read)->history({});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].result, "unfinished");
    writer->rollback();
}

// A schema row that is not a version number (damaged, or another program's table of that name)
// is a clear refusal for reader and writer alike, never a crash.
TEST_P(StoreTest, ADamagedSchemaRowIsAClearRefusal) {
    OpenRunStore(location);
    const auto writer = Connect(location, StoreAccess::Write);
    writer->run("DROP TABLE k350_schema");
    writer->run("CREATE TABLE k350_schema (version TEXT)");
    writer->run("INSERT INTO k350_schema VALUES ('x1')");
    for (StoreAccess access : {StoreAccess::Read, StoreAccess::Write}) {
        const std::string message = Message([&] { OpenRunStore(location, access); });
        EXPECT_THAT(message, ::testing::HasSubstr("damaged or not a k350 store"));
        EXPECT_THAT(message, ::testing::HasSubstr("\"x1\""));
    }
    Connect(location, StoreAccess::Write)->run("INSERT INTO k350_schema VALUES ('1')");
    EXPECT_THAT(Message([&] { OpenRunStore(location, StoreAccess::Read); }),
                ::testing::HasSubstr("2 rows"));
    Connect(location, StoreAccess::Write)->run("DELETE FROM k350_schema");
    Connect(location, StoreAccess::Write)->run("INSERT INTO k350_schema VALUES ('99')");
    EXPECT_THAT(Message([&] { OpenRunStore(location, StoreAccess::Read); }),
                ::testing::HasSubstr("newer than this k350ctl"));
}

// Alphanumeric serials count in base 36 within the line's range, in one transaction each; a board
// that returns keeps its serial, and a store keeps the form it began with.
TEST_P(StoreTest, AlphanumericSerialsCountInBase36WithinTheLinesRange) {
    auto store = OpenRunStore(location);
    const SerialPlan plan{SerialForm::Alphanumeric,
                          *SerialNumberOf("0009", SerialForm::Alphanumeric),
                          *SerialNumberOf("000B", SerialForm::Alphanumeric)};
    store->checkSerials(plan);
    EXPECT_EQ(store->serialFor("0x01", "0xC1", plan), "0009");
    EXPECT_EQ(store->serialFor("0x02", "0xC1", plan), "000A");
    EXPECT_EQ(store->serialFor("0x03", "0xC1", plan), "000B");
    EXPECT_THROW(store->serialFor("0x04", "0xC1", plan), StoreError);  // the range is used up
    EXPECT_EQ(store->serialFor("0x02", "0xC1", plan), "000A");
    // Another line of the same store has a range of its own.
    const SerialPlan upper{SerialForm::Alphanumeric,
                           *SerialNumberOf("ZZZY", SerialForm::Alphanumeric),
                           LastSerialNumber(SerialForm::Alphanumeric)};
    EXPECT_EQ(OpenRunStore(location)->serialFor("0x05", "0xC1", upper), "ZZZY");
    EXPECT_EQ(store->serialFor("0x06", "0xC1", upper), "ZZZZ");
    EXPECT_EQ(store->serialFor("0x07", "0xC1", {SerialForm::Alphanumeric, 1, 8}), "0001");

    try {
        store->checkSerials({});
        ADD_FAILURE() << "a decimal plan on an alphanumeric store";
    } catch (const StoreError& error) {
        EXPECT_STREQ(error.what(),
                     "the store holds alphanumeric serials and the recipe asks for decimal ones; "
                     "a line keeps one form (use another store)");
    }
    EXPECT_THROW(store->serialFor("0x08", "0xC1", {}), StoreError);
    EXPECT_EQ(store->serialFor("0x01", "0xC1", {}), "0009");  // a known board is no new serial
}

TEST_P(StoreTest, ADecimalStoreRefusesAnAlphanumericPlan) {
    auto store = OpenRunStore(location);
    EXPECT_EQ(store->serialFor("0x01", "0xC1", {}), "0001");
    const SerialPlan alphanumeric{SerialForm::Alphanumeric, 1, 1679615};
    EXPECT_THROW(store->checkSerials(alphanumeric), StoreError);
    EXPECT_THROW(store->serialFor("0x02", "0xC1", alphanumeric), StoreError);
    EXPECT_NO_THROW(store->checkSerials({SerialForm::Decimal, 5000, 9999}));
    EXPECT_EQ(store->serialFor("0x02", "0xC1", {SerialForm::Decimal, 5000, 9999}), "5000");
    // The first line's range goes on where its own serials end.
    EXPECT_EQ(store->serialFor("0x03", "0xC1", {SerialForm::Decimal, 1, 4999}), "0002");
}

// A store each older k350ctl made, with decimal serials only, is upgraded with its boards and
// runs kept.
TEST_P(StoreTest, AnOlderStoreKeepsItsSerialsAndRunsWhenUpgraded) {
    for (int version = 1; version < SqlRunStore::kSchemaVersion; ++version) {
        SCOPED_TRACE("schema version " + std::to_string(version));
        {
            const auto db = Connect(location, StoreAccess::Write);
            if (version > 1) {
                for (const char* table : {"k350_reference_boards", "k350_step_tally",
                                          "k350_run_tally", "k350_live_ports", "k350_live_benches",
                                          "k350_live_clock", "k350_measurements", "k350_run_steps",
                                          "k350_runs", "k350_boards", "k350_schema"}) {
                    db->run(std::string("DROP TABLE ") + table);
                }
            }
            MakeOlderStore(*db, version);
            AddOlderBoard(*db, version, "0x01", 41);
            AddOlderRun(*db, "0x01", "0041");
        }
        auto store = OpenRunStore(location);
        EXPECT_EQ(store->serialFor("0x01", "0xC1", {}), "0041");
        EXPECT_EQ(store->serialFor("0x02", "0xC1", {}), "0042");
        EXPECT_THROW(store->checkSerials({SerialForm::Alphanumeric, 1, 1679615}), StoreError);
        ASSERT_EQ(store->history({}).size(), 1u);
        EXPECT_EQ(store->history({}).at(0).serial, "0041");
    }
}

// Where each board came from is kept by the run's start, its end and a journal's record alike;
// an older store read as it is has none, and once upgraded keeps its runs.
TEST_P(StoreTest, ARunKeepsWhereItsBoardCameFrom) {
    {
        const auto db = Connect(location, StoreAccess::Write);
        MakeOlderStore(*db, 9);
        AddOlderBoard(*db, 9, "0x01", 41);
        AddOlderRun(*db, "0x01", "0041");
    }
    const auto older = OpenRunStore(location, StoreAccess::Read)->history({});
    ASSERT_EQ(older.size(), 1u);
    EXPECT_EQ(older[0].programVersion, "");

    auto store = OpenRunStore(location);
    RunRecord begun = run("0x02", "0042");
    begun.programVersion = "1.0.0";
    begun.operatorName = "Ivanova";
    begun.lot = "L-7";
    begun.recipeSha256 = std::string(64, 'f');
    begun.id = store->beginRun(begun);
    RunRecord recorded = begun;
    recorded.key = "journal-1";
    recorded.dieId = "0x03";
    recorded.lot = "L-8";
    recorded.result = RunResult::Passed;
    store->recordRun(recorded);
    begun.result = RunResult::Failed;
    store->finishRun(begun);

    const auto all = OpenRunStore(location, StoreAccess::Read)->history({});
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].serial, "0041");
    EXPECT_EQ(all[0].lot, "");
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(all[i].programVersion, "1.0.0");
        EXPECT_EQ(all[i].operatorName, "Ivanova");
        EXPECT_EQ(all[i].recipeSha256, std::string(64, 'f'));
    }
    EXPECT_EQ(all[1].lot, "L-7");
    EXPECT_EQ(all[2].lot, "L-8");
}

// Two benches that take one board in the same instant: the look for a run of another bench and
// the start are one transaction, so exactly one of them runs it and the other is told where.
TEST_P(StoreTest, OfTwoBenchesTakingOneBoardAtOnceOnlyOneRunsIt) {
    OpenRunStore(location);
    constexpr int kBoards = 30;
    const std::string since = UtcSecondsAgo(600);
    std::barrier start(2);
    std::vector<ClaimedRun> claims[2];
    std::vector<std::thread> benches;
    for (int bench = 0; bench < 2; ++bench) {
        benches.emplace_back([&, bench] {
            auto store = OpenRunStore(location);
            for (int board = 0; board < kBoards; ++board) {
                RunRecord record = run("0x" + std::to_string(board), "");
                record.station = "bench-" + std::to_string(bench + 1);
                record.startedAt = UtcNow();
                start.arrive_and_wait();
                claims[bench].push_back(store->claimRun(record, since));
            }
        });
    }
    for (auto& bench : benches) bench.join();
    for (int board = 0; board < kBoards; ++board) {
        SCOPED_TRACE(board);
        const ClaimedRun& first = claims[0].at(std::size_t(board));
        const ClaimedRun& second = claims[1].at(std::size_t(board));
        ASSERT_NE(first.id > 0, second.id > 0);
        const ClaimedRun& lost = first.id > 0 ? second : first;
        ASSERT_TRUE(lost.elsewhere);
        EXPECT_EQ(lost.elsewhere->station, first.id > 0 ? "bench-1" : "bench-2");
        EXPECT_EQ(lost.elsewhere->id, std::max(first.id, second.id));
    }
    auto store = OpenRunStore(location);
    EXPECT_EQ(store->history({}).size(), std::size_t(kBoards));
    // A bench's own unfinished run died with its process, and an old one with its station.
    RunRecord again = run("0x0", "");
    again.station = store->history({.dieId = "0x0"}).at(0).station;
    EXPECT_GT(store->claimRun(again, since).id, 0);
    again.station = "bench-3";
    EXPECT_GT(store->claimRun(again, UtcSecondsAgo(-60)).id, 0);
}

// A run whose steps or times an older store holds damaged is named and left out of the figures
// the upgrade fills in; the upgrade goes on and keeps every run.
TEST_P(StoreTest, AnUpgradeLeavesDamagedRunsOutOfTheFiguresAndNamesThem) {
    {
        const auto db = Connect(location, StoreAccess::Write);
        MakeOlderStore(*db, 4);
        const std::string good =
            R"([{"step":"flash","started":"2026-01-01T00:00:00Z","finished":"2026-01-01T00:00:30Z","ok":true}])";
        for (const std::string& steps :
             {good, std::string("[{\"step\":"), std::string(R"({"step":"flash"})"),
              std::string(R"([{"step":"flash","started":"yesterday","ok":true}])"),
              std::string("[" + std::string(3000, '[') + std::string(3000, ']') + "]"), good}) {
            AddOlderRun(*db, "0x01", "0001");
            db->run("UPDATE k350_runs SET steps = ? WHERE id = (SELECT MAX(id) FROM k350_runs)",
                    {steps});
        }
        db->run("UPDATE k350_runs SET finished_at = 'soon' WHERE id = 6");
    }
    const auto store = OpenRunStore(location);
    EXPECT_EQ(store->openingNotice(),
              "store " + ShownLocation(location) +
                  " upgraded; 5 damaged runs left out of the times and steps: run 2 (its steps "
                  "are not JSON), run 3 (its steps are not a list of steps), run 4 (a step's time "
                  "is not a time), run 5 (its steps are not a list of steps), run 6 (its end is "
                  "not a time)");
    EXPECT_EQ(store->history({}).size(), 6u);
    const auto db = Connect(location, StoreAccess::Read);
    const auto steps = db->run("SELECT run_id, seconds FROM k350_run_steps");
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].at(0), "1");
    const auto timed = db->run("SELECT id FROM k350_runs WHERE seconds IS NOT NULL");
    ASSERT_EQ(timed.size(), 1u);  // a damaged run has no time either
    EXPECT_EQ(timed[0].at(0), "1");
    EXPECT_EQ(OpenRunStore(location)->openingNotice(), "");  // told once, by the upgrade
}

INSTANTIATE_TEST_SUITE_P(Databases, StoreTest, ::testing::Values("sqlite", "postgresql"));

// Another program's SQLite file is never turned into a store, by a reader or a writer.
TEST(StoreSqlite, AnotherProgramsFileIsLeftUntouched) {
    TempFolder folder;
    const std::string path = folder.path() + "/notes.sqlite";
    {
        SqliteConnection notes(path);
        notes.run("CREATE TABLE notes (text TEXT)");
        notes.run("PRAGMA journal_mode = DELETE");
    }
    const auto bytes = [&] {
        std::ostringstream content;
        content << std::ifstream(path, std::ios::binary).rdbuf();
        return content.str();
    };
    const std::string before = bytes();
    EXPECT_THAT(Message([&] { OpenRunStore(path, StoreAccess::Read); }),
                ::testing::HasSubstr("not a k350 store"));
    EXPECT_THAT(Message([&] { OpenRunStore(path); }),
                ::testing::HasSubstr("another program's tables"));
    EXPECT_TRUE(bytes() == before);
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    std::ofstream(folder.path() + "/text.sqlite") << "not a database at all, just text\n";
    EXPECT_THROW(OpenRunStore(folder.path() + "/text.sqlite", StoreAccess::Read), StoreError);
}

// A store on a medium mounted read-only (a copy on a CD, a snapshot): readable as it is.
TEST(StoreSqlite, AStoreOnAReadOnlyMediumIsRead) {
    SmallDisk disk(4096);
    if (!disk.available()) GTEST_SKIP() << disk.problem();
    const std::string path = disk.path() + "/line.sqlite";
    {
        auto store = OpenRunStore(path);
        store->serialFor("0x01", "0xC1", {});
        RunRecord record;
        record.dieId = "0x01";
        record.chipId = "0xC1";
        record.serial = "0001";
        record.station = record.port = record.recipe = "r";
        store->beginRun(record);
    }
    ASSERT_TRUE(disk.remountReadOnly());
    EXPECT_EQ(OpenRunStore(path, StoreAccess::Read)->history({}).size(), 1u);
    EXPECT_THROW(OpenRunStore(path), StoreError);  // a station could not write there
}

// The password comes from libpq's own files; no message ever carries one, whatever the URL.
TEST(StorePostgres, PasswordsComeFromLibpqAndNeverShow) {
    if (!TestPostgresServer().available())
        GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    ASSERT_FALSE(TestPostgresServer().createDatabase("secrets").empty());
    const std::string url = TestPostgresServer().passwordUrl("secrets");
    const std::string password = PostgresServer::kPassword;
    // No password given: refused at once, and the message says where to give it.
    EXPECT_THAT(Message([&] { OpenRunStore(url); }), ::testing::HasSubstr("~/.pgpass"));
    TempFolder folder;
    const std::string passFile = folder.path() + "/pgpass";
    std::ofstream(passFile) << "*:*:*:" << PostgresServer::kPasswordRole << ":" << password << "\n";
    std::filesystem::permissions(passFile, std::filesystem::perms::owner_read);
    setenv("PGPASSFILE", passFile.c_str(), 1);
    EXPECT_EQ(OpenRunStore(url)->serialFor("0x01", "0xC1", {}), "0001");
    unsetenv("PGPASSFILE");
    setenv("PGPASSWORD", password.c_str(), 1);
    EXPECT_EQ(OpenRunStore(url, StoreAccess::Read)->history({}).size(), 0u);
    unsetenv("PGPASSWORD");

    const std::string host = TestPostgresServer().socketFolder();
    for (const std::string& bad : {
             "postgresql://k350pw:" + password + "@/secrets?host=" + host,  // bare %
             "postgresql://k350pw:wrong-" + password.substr(0, 4) + "@/secrets?host=" + host,
             "postgresql:///secrets?host=" + host + "&user=k350pw&password=wrong%20pw",
             "postgresql:///secrets?host=" + host + "&user=k350pw&pass%77ord=" + password,
             "postgresql:///secrets?host=/nonexistent&password=" + password,
             "postgresql://k350pw:" + password + "@@/secrets?host=" + host,
         }) {
        const std::string message = Message([&] { OpenRunStore(bad); });
        EXPECT_EQ(message.find(password), std::string::npos) << message;
        EXPECT_EQ(message.find("s3cr"), std::string::npos) << message;
        EXPECT_EQ(message.find("wrong"), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

// A clock whose first pause brings the server back: the retry is tested without waiting for it.
class ServerBackOnPause : public Clock {
public:
    void sleepMs(std::uint32_t ms) override {
        ++pauses;
        nowUs_ += std::int64_t(ms) * 1000;
        if (pauses == 1) {
            EXPECT_TRUE(TestPostgresServer().start());
        }
    }
    std::int64_t nowUs() override { return nowUs_; }
    TimeOfDay timeOfDay() override { return {}; }
    int pauses = 0;

private:
    std::int64_t nowUs_ = 0;
};

// A serial is taken only from the store: with the server away, the allocation waits for it and
// then takes the plan's next serial; a refusal of the store's own is not retried.
TEST(StorePostgres, SerialAllocationWaitsForTheStoreAndNeverGuesses) {
    if (!TestPostgresServer().available())
        GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    const std::string location = TestPostgresServer().createDatabase("serialwait");
    const SerialPlan upper{SerialForm::Alphanumeric,
                           *SerialNumberOf("ZZZY", SerialForm::Alphanumeric),
                           LastSerialNumber(SerialForm::Alphanumeric)};
    EXPECT_EQ(OpenRunStore(location)->serialFor("0x01", "0xC1", upper), "ZZZY");
    ServerBackOnPause clock;
    RetryingRunStore store(location, clock, 60);
    ASSERT_TRUE(TestPostgresServer().stop());
    EXPECT_EQ(store.serialFor("0x02", "0xC1", upper), "ZZZZ");
    EXPECT_EQ(clock.pauses, 1);
    ASSERT_TRUE(TestPostgresServer().stop());
    clock.pauses = 0;
    EXPECT_NO_THROW(store.checkSerials(upper));
    EXPECT_EQ(clock.pauses, 1);
    EXPECT_THROW(store.checkSerials({}), StoreError);
    EXPECT_THROW(store.serialFor("0x03", "0xC1", upper), StoreError);  // used up
    EXPECT_EQ(clock.pauses, 1);
}

// A store that stays away for the whole retry time is never told as back: the wait ends in the
// failure alone.
TEST(StorePostgres, AStoreThatStaysAwayIsNotToldAsBack) {
    if (!TestPostgresServer().available())
        GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    const std::string location = TestPostgresServer().createDatabase("staysaway");
    OpenRunStore(location);
    VirtualClock clock;
    std::vector<std::string> told;
    RetryingRunStore store(location, clock, 2,
                           [&](const std::string& fault) { told.push_back(fault); });
    ASSERT_TRUE(TestPostgresServer().stop());
    EXPECT_THROW(store.passedSerial("0x01"), StoreUnavailable);
    ASSERT_TRUE(TestPostgresServer().start());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_THAT(told[0], ::testing::HasSubstr("cannot be reached"));
    EXPECT_EQ(store.passedSerial("0x01"), std::nullopt);
    EXPECT_EQ(told.size(), 1u);  // reached at once: nothing was waited for
}

TEST(StoreSerials, TheSequenceEndsWhereTheFourCharacterFieldDoes) {
    TempFolder folder;
    const std::string location = folder.path() + "/line.sqlite";
    auto store = OpenRunStore(location);
    SqliteConnection(location).run(
        "INSERT INTO k350_boards (die_id, chip_id, serial_form, serial_number, serial, assigned_at)"
        " VALUES ('0xFF', '0xC1', 'decimal', 9999, '9999', '2026-01-01T00:00:00Z')");
    EXPECT_THROW(store->serialFor("0x01", "0xC1", {}), StoreError);
    EXPECT_EQ(store->serialFor("0xFF", "0xC1", {}), "9999");  // a board that has one keeps it
    EXPECT_EQ(SerialText(7), "0007");
}

TEST(StoreSerials, TheTwoFormsReadAndWriteFourCharacters) {
    EXPECT_EQ(SerialText(35, SerialForm::Alphanumeric), "000Z");
    EXPECT_EQ(SerialText(36, SerialForm::Alphanumeric), "0010");
    EXPECT_EQ(SerialText(LastSerialNumber(SerialForm::Alphanumeric), SerialForm::Alphanumeric),
              "ZZZZ");
    EXPECT_EQ(LastSerialNumber(SerialForm::Alphanumeric), 1679615);
    EXPECT_EQ(SerialNumberOf("a0z9", SerialForm::Alphanumeric), 36 * 36 * 36 * 10 + 35 * 36 + 9);
    EXPECT_EQ(SerialNumberOf("0042", SerialForm::Decimal), 42);
    EXPECT_EQ(SerialNumberOf("004A", SerialForm::Decimal), std::nullopt);
    EXPECT_EQ(SerialNumberOf("042", SerialForm::Alphanumeric), std::nullopt);
    EXPECT_EQ(SerialNumberOf("00-1", SerialForm::Alphanumeric), std::nullopt);
    EXPECT_EQ(SerialNumberOf("00Ж1", SerialForm::Alphanumeric), std::nullopt);
}

}  // namespace
