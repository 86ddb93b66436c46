// A station process against a store that has a bad day, for real: the PostgreSQL server the test
// started is stopped and started again under it, or is down when it starts, and an SQLite store
// fills its disk. No board is lost: each is recorded exactly once, waited for or kept in the
// journal and written from there.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "config/ServiceCodes.h"
#include "store/RunJournal.h"
#include "store/RunStore.h"
#include "store/SqliteConnection.h"
#include "store/StoreIdentity.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/StartedProgram.h"

using ::testing::HasSubstr;

namespace {

constexpr int kBoards = 4;

// A safety net only: a station that has not ended by then is killed.
constexpr auto kLimit = std::chrono::minutes(3);

// One k350ctl process on a simulated bench of four boards, in `folder`, its state directory (where
// its journal is) `folder`/state as systemd would give it, unless `environment` says otherwise.
std::unique_ptr<StartedProgram> StartStation(const std::string& folder,
                                             const std::vector<std::string>& arguments,
                                             std::map<std::string, std::string> environment = {},
                                             ProgramUser user = ProgramUser::Same) {
    environment.emplace("STATE_DIRECTORY", folder + "/state");
    environment.emplace("K350_SIM_BOARDS", std::to_string(kBoards));
    environment.emplace("K350_SERVICE_CODE", std::string(kFullServiceCode));
    return std::make_unique<StartedProgram>(K350CTL_SIM, arguments, environment, folder, user);
}

class StationStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/k350-station-store-XXXXXX";
        folder = mkdtemp(pattern);
        std::ofstream(folder + "/image.rom", std::ios::binary) << std::string(3000, '\x5A');
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // Where the station keeps the store's runs it could not write.
    std::string journalPath() const { return folder + "/state/" + JournalFileName(store); }

    bool usePostgres(const std::string& database) {
        if (!TestPostgresServer().available()) return false;
        store = TestPostgresServer().createDatabase(database);
        return !store.empty();
    }
    std::vector<std::string> station(const std::vector<std::string>& more) const {
        std::vector<std::string> arguments{"station",
                                           "--image",
                                           folder + "/image.rom",
                                           "--verify",
                                           "--poll",
                                           "--soak",
                                           "3",
                                           "--store",
                                           store,
                                           "--boards",
                                           std::to_string(kBoards),
                                           "--json"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }

    // Every board passed exactly once, nothing left unfinished, each last line with its identity.
    void expectEveryBoardRecordedOnce(const std::string& log) const {
        const auto runs = OpenRunStore(store, StoreAccess::Read)->history({});
        int passed = 0;
        std::set<std::string> serials;
        for (const RunRecord& run : runs) {
            EXPECT_EQ(run.result, "passed") << run.dieId << ": " << run.error;
            passed += run.result == "passed";
            serials.insert(run.serial);
        }
        EXPECT_EQ(passed, kBoards);
        EXPECT_EQ(serials, (std::set<std::string>{"0001", "0002", "0003", "0004"}));
        std::istringstream lines(log);
        int finals = 0;
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("{")) continue;
            const auto json = nlohmann::json::parse(line);
            if (json.at("step") != "board") continue;
            ++finals;
            EXPECT_TRUE(json.at("die_id").is_string()) << line;
            EXPECT_TRUE(json.at("serial").is_string()) << line;
        }
        EXPECT_EQ(finals, kBoards);
    }

    std::string folder, store;
};

const char* kReadBack = R"("step":"verify","state":"done")";

}  // namespace

// The server restarts (maintenance, a fail-over) while four boards are on the line: their ends
// wait for it, and every board is passed, once.
TEST_F(StationStoreTest, APostgresRestartWhileBoardsAreOnTheLineLosesNone) {
    if (!usePostgres("restart")) GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    const auto line = StartStation(folder, station({}));
    ASSERT_TRUE(line->waitForText(kReadBack, kLimit, kBoards)) << line->output();
    ASSERT_TRUE(TestPostgresServer().stop());
    std::this_thread::sleep_for(std::chrono::seconds(6));  // the soaks end while it is down
    ASSERT_TRUE(TestPostgresServer().start());
    const int status = line->finish(kLimit).status;
    const std::string log = line->output();
    EXPECT_EQ(status, 0) << log;
    EXPECT_THAT(log,
                HasSubstr(R"("step":"store","state":"waiting","error":"waiting for the store: )"));
    EXPECT_THAT(log, HasSubstr("k350ctl: station: 4 passed, 0 failed"));
    expectEveryBoardRecordedOnce(log);
}

// The server is down when the station starts and comes up 20 s later: the station waits.
TEST_F(StationStoreTest, AStationWaitsForAServerThatIsDownAtItsStart) {
    if (!usePostgres("late")) GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    ASSERT_TRUE(TestPostgresServer().stop());
    const auto line = StartStation(folder, station({}));
    std::this_thread::sleep_for(std::chrono::seconds(20));
    EXPECT_THAT(line->output(), HasSubstr("k350ctl: waiting for the store (up to 60 s): store "));
    ASSERT_TRUE(TestPostgresServer().start());
    const int status = line->finish(kLimit).status;
    const std::string log = line->output();
    EXPECT_EQ(status, 0) << log;
    EXPECT_THAT(log, HasSubstr("k350ctl: the store is back"));
    expectEveryBoardRecordedOnce(log);
}

// The server stays away longer than the station waits: the results go into the journal, the
// station says so and fails, and `station --sync` writes them, once however often it runs.
TEST_F(StationStoreTest, ResultsThePostgresStoreCouldNotTakeWaitInTheJournal) {
    if (!usePostgres("journal")) GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    const auto line = StartStation(folder, station({"--store-retry", "2"}));
    ASSERT_TRUE(line->waitForText(kReadBack, kLimit, kBoards)) << line->output();
    ASSERT_TRUE(TestPostgresServer().stop());
    const int status = line->finish(kLimit).status;
    const std::string log = line->output();
    EXPECT_EQ(status, 4) << log;
    EXPECT_THAT(log, HasSubstr("the run is kept in the journal " + journalPath()));
    EXPECT_THAT(log, HasSubstr("keeps 4 run(s) the store has not taken"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("\\n\"")));  // no JSON string ends a line
    ASSERT_TRUE(TestPostgresServer().start());
    for (int time = 0; time < 2; ++time) {
        const auto sync = StartStation(folder, {"station", "--sync", "--store", store});
        EXPECT_EQ(sync->finish(kLimit).status, 0) << sync->output();
    }
    EXPECT_FALSE(std::filesystem::exists(journalPath()));
    expectEveryBoardRecordedOnce(log);
}

// An SQLite store whose disk fills while boards are on the line: the results are kept in the
// journal (on another disk) and written at the station's next start.
TEST_F(StationStoreTest, AnSqliteStoreOnAFullDiskLosesNoBoard) {
    SmallDisk disk(2048);
    if (!disk.available()) GTEST_SKIP() << disk.problem();
    store = disk.path() + "/line.sqlite";
    OpenRunStore(store);
    const auto line = StartStation(folder, station({"--store-retry", "2"}));
    ASSERT_TRUE(line->waitForText(kReadBack, kLimit, kBoards)) << line->output();
    // Full until the station ends: the space a closed connection's log gives back is taken too.
    std::atomic<bool> ended{false};
    std::thread filler([&] {
        while (!ended) {
            disk.fill();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const int status = line->finish(kLimit).status;
    ended = true;
    filler.join();
    const std::string log = line->output();
    EXPECT_EQ(status, 4) << log;
    EXPECT_THAT(log, HasSubstr("the run is kept in the journal " + journalPath()));
    disk.makeRoom();
    // The next start writes them before it takes a board; there are none to take this time.
    const auto next = StartStation(folder, {"station", "--image", folder + "/image.rom", "--store",
                                            store, "--boards", "1", "--store-retry", "1"});
    ASSERT_TRUE(
        next->waitForText("4 run(s) from the journal " + journalPath() + " written", kLimit))
        << next->output();
    next->finish(kLimit);
    EXPECT_FALSE(std::filesystem::exists(journalPath()));
    const auto runs = OpenRunStore(store, StoreAccess::Read)->history({});
    int passed = 0;
    for (const RunRecord& run : runs) passed += run.result == "passed";
    EXPECT_GE(passed, kBoards);
    EXPECT_EQ(std::count_if(runs.begin(), runs.end(),
                            [](const RunRecord& run) { return run.result == "unfinished"; }),
              0);
}

// The boards' ends wait for a server that is down, and the operator stops twice: the waits end
// at once, the runs go into the journal as they ended, and `station --sync` writes them later.
TEST_F(StationStoreTest, ASecondSignalEndsTheWaitForAnAbsentStoreAndLosesNoBoard) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        if (!usePostgres("stopped" + std::to_string(signal))) {
            GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
        }
        const auto line = StartStation(folder, station({}));
        // Every board has its run begun; the next statement is its end, after the soak.
        ASSERT_TRUE(line->waitForText(R"("step":"identify","state":"done")", kLimit, kBoards))
            << line->output();
        ASSERT_TRUE(TestPostgresServer().stop());
        ASSERT_TRUE(line->waitForText(R"("step":"store","state":"waiting")", kLimit, kBoards))
            << line->output();
        line->signal(signal);
        ASSERT_TRUE(line->waitForText("finishing 4 boards", kLimit)) << line->output();
        line->signal(signal);
        EXPECT_EQ(line->finish(kLimit).status,
                  128 + signal);  // at once: not after the 60 s of the retry time
        const std::string log = line->output();
        EXPECT_THAT(log, HasSubstr("0 passed, 0 failed, 0 skipped, 0 unusable, 4 interrupted"));
        EXPECT_THAT(log, HasSubstr("the board passed; the station was stopped while it waited for "
                                   "the store; the run is kept in the journal"));
        EXPECT_THAT(log, HasSubstr("k350ctl: stopped while waiting for the store: store"));
        EXPECT_THAT(log, HasSubstr("keeps 4 run(s) the store has not taken"));
        ASSERT_TRUE(TestPostgresServer().start());
        const auto sync = StartStation(folder, {"station", "--sync", "--store", store});
        EXPECT_EQ(sync->finish(kLimit).status, 0) << sync->output();
        expectEveryBoardRecordedOnce(log);
    }
}

// Before any board is taken there is nothing to finish: the first signal ends the wait for a
// server that is down.
TEST_F(StationStoreTest, AStopWhileTheStationWaitsForTheStoreAtItsStartEndsIt) {
    if (!usePostgres("stoppedatstart"))
        GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    ASSERT_TRUE(TestPostgresServer().stop());
    const auto line = StartStation(folder, station({}));
    ASSERT_TRUE(line->waitForText("k350ctl: waiting for the store (up to 60 s)", kLimit))
        << line->output();
    line->signal(SIGINT);
    EXPECT_EQ(line->finish(kLimit).status, 130);
    EXPECT_THAT(line->output(), HasSubstr("k350ctl: stopped while waiting for the store: store "));
    ASSERT_TRUE(TestPostgresServer().start());
}

namespace {

// The shipped unit's layout: the recipe in a folder of root's (/etc/k350), the station a user of
// its own that may write its state directory only.
struct UnitLayout {
    explicit UnitLayout(const std::string& folder)
        : etc(folder + "/etc"), state(folder + "/state") {
        std::filesystem::permissions(folder, std::filesystem::perms(0755));
        std::filesystem::create_directory(etc);
        std::filesystem::create_directory(state);
        std::ofstream(recipe()) << "name = \"line 2\"\n";
        // The station's user owns its state directory, as systemd makes it.
        if (geteuid() == 0) {
            EXPECT_EQ(chown(state.c_str(), kNobody, kNobody), 0);
        }
    }
    std::string recipe() const { return etc + "/line2.toml"; }
    static constexpr uid_t kNobody = 65534;
    std::string etc, state;
};

RunRecord JournaledRun(int board) {
    RunRecord run;
    run.key = "journaled-" + std::to_string(board);
    run.dieId = "0x0" + std::to_string(board);
    run.chipId = "0xC1";
    run.serial = "000" + std::to_string(board);
    run.station = "bench-1";
    run.port = "1-" + std::to_string(board);
    run.recipe = "k350a";
    run.startedAt = "2026-12-09T08:00:00Z";
    run.finishedAt = "2026-12-09T08:01:00Z";
    run.result = RunResult::Passed;
    run.steps = "[]";
    return run;
}

}  // namespace

// As the unit runs it (an unprivileged user, the recipe where it cannot write): the runs the
// absent store could not take are kept in the state directory, and `--sync` writes them.
TEST_F(StationStoreTest, TheUnitsUnprivilegedStationKeepsItsRunsInItsStateDirectory) {
    if (!usePostgres("unitlayout"))
        GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    const UnitLayout unit(folder);
    const std::map<std::string, std::string> environment{{"HOME", unit.etc},
                                                         {"STATE_DIRECTORY", unit.state}};
    const auto line =
        StartStation(unit.etc, station({"--recipe", unit.recipe(), "--store-retry", "2"}),
                     environment, ProgramUser::UnprivilegedWhenRoot);
    ASSERT_TRUE(line->waitForText(kReadBack, kLimit, kBoards)) << line->output();
    ASSERT_TRUE(TestPostgresServer().stop());
    const int status = line->finish(kLimit).status;
    const std::string log = line->output();
    EXPECT_EQ(status, 4) << log;
    const std::string journal = unit.state + "/" + JournalFileName(store);
    EXPECT_THAT(log, HasSubstr("the run is kept in the journal " + journal));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("Permission denied")));
    ASSERT_TRUE(TestPostgresServer().start());
    const auto sync =
        StartStation(unit.etc, {"station", "--sync", "--recipe", unit.recipe(), "--store", store},
                     environment, ProgramUser::UnprivilegedWhenRoot);
    EXPECT_EQ(sync->finish(kLimit).status, 0) << sync->output();
    EXPECT_FALSE(std::filesystem::exists(journal));
    expectEveryBoardRecordedOnce(log);
}

// Nowhere to keep a run (no state directory it may write, a home and a recipe folder of root's):
// the station says so at its start, on the board's line, on a line of its own and in its exit
// status, and takes no new board.
TEST_F(StationStoreTest, AStationThatCanKeepARunNowhereSaysSoAndFails) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to run the station as another user";
    if (!usePostgres("nowhere")) GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
    const UnitLayout unit(folder);
    const std::map<std::string, std::string> environment{{"HOME", unit.etc},
                                                         {"STATE_DIRECTORY", unit.etc}};
    const auto line =
        StartStation(unit.etc, station({"--recipe", unit.recipe(), "--store-retry", "2"}),
                     environment, ProgramUser::UnprivilegedWhenRoot);
    ASSERT_TRUE(line->waitForText(kReadBack, kLimit, kBoards)) << line->output();
    ASSERT_TRUE(TestPostgresServer().stop());
    const int status = line->finish(kLimit).status;
    ASSERT_TRUE(TestPostgresServer().start());
    const std::string log = line->output();
    EXPECT_EQ(status, 5) << log;
    EXPECT_THAT(log, HasSubstr("k350ctl: no folder can take the journal (" + unit.etc));
    EXPECT_THAT(log,
                HasSubstr("the run is neither in the store nor in a journal: journal " + unit.etc));
    EXPECT_THAT(log, HasSubstr("cannot be written: Permission denied; the run, for the record: "));
    EXPECT_THAT(log, HasSubstr(R"("step":"station","state":"unrecorded")"));
    EXPECT_THAT(log, HasSubstr("run(s) could be kept neither in the store nor in the journal"));
}

// A journal of an older k350ctl beside the recipe, its store spelt another way, its last line cut
// by a power cut: `--sync` writes the good run, tells the cut line by its number and file, keeps
// it aside and fails; the next `--sync` finds nothing left.
TEST_F(StationStoreTest, AnOlderJournalIsReplayedAndItsCutLineKeptAsideAndTold) {
    store = folder + "/line.sqlite";
    OpenRunStore(store);
    std::ofstream(folder + "/k350a.toml") << "name = \"k350a\"\n";
    const std::string old = folder + "/k350a.journal";
    std::ofstream(old) << R"({"store":"line.sqlite","key":"old-1","id":0,"die_id":"0x07",)"
                          R"("chip_id":"0xC1","serial":"0007","station":"bench-1","port":"1-2",)"
                          R"("recipe":"k350a","started_at":"2026-12-09T08:00:00Z","finished_at":)"
                          R"("2026-12-09T08:02:00Z","result":"passed","steps":"[]"})"
                          "\n"
                       << R"({"store":"line.sqlite","key":"old-2","id":0,"die_id":"0x08","chi)";
    const auto sync = StartStation(
        folder, {"station", "--sync", "--recipe", folder + "/k350a.toml", "--store", store});
    EXPECT_EQ(sync->finish(kLimit).status, 4) << sync->output();
    EXPECT_THAT(sync->output(),
                HasSubstr("the journal " + old + " line 2 is damaged (cut short); it is kept in " +
                          old + ".damaged-"));
    EXPECT_THAT(sync->output(), HasSubstr("1 run(s) from the journal " + old + " written"));
    const auto runs = OpenRunStore(store, StoreAccess::Read)->history({});
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].serial, "0007");
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        kept += entry.path().filename().string().starts_with("k350a.journal.damaged-");
    }
    EXPECT_EQ(kept, 1);
    const auto again = StartStation(
        folder, {"station", "--sync", "--recipe", folder + "/k350a.toml", "--store", store});
    EXPECT_EQ(again->finish(kLimit).status, 0) << again->output();
}

// Another program holds the SQLite store locked: the journal's replay waits the operator's retry
// time (not SQLite's own minute), saying so, and fails; under a long retry time it answers the
// first signal by stopping after its run and the second at once, each said.
TEST_F(StationStoreTest,
       ALockedSqliteStoreIsWaitedForAsLongAsTheOperatorSaysAndSignalsAreAnswered) {
    store = folder + "/line.sqlite";
    OpenRunStore(store);
    std::filesystem::create_directory(folder + "/state");
    RunJournal journal(journalPath());
    journal.keep(JournaledRun(1), store);
    journal.keep(JournaledRun(2), store);
    std::optional<SqliteConnection> holder(std::in_place, store);
    holder->beginExclusive();

    const auto bounded =
        StartStation(folder, {"station", "--sync", "--store", store, "--store-retry", "3"});
    EXPECT_EQ(bounded->finish(kLimit).status, 4) << bounded->output();
    EXPECT_THAT(bounded->output(), HasSubstr("k350ctl: waiting for the store (up to 3 s): store "));
    EXPECT_THAT(bounded->output(), HasSubstr("database is locked (retried for 3 s)"));
    EXPECT_THAT(bounded->output(), HasSubstr("keeps 2 run(s) the store has not taken"));

    const auto sync =
        StartStation(folder, {"station", "--sync", "--store", store, "--store-retry", "600"});
    ASSERT_TRUE(sync->waitForText("k350ctl: waiting for the store (up to 600 s)", kLimit))
        << sync->output();
    sync->signal(SIGTERM);
    EXPECT_TRUE(
        sync->waitForText("k350ctl: the journal's replay stops after the run under way; "
                          "a second signal stops now",
                          kLimit))
        << sync->output();
    sync->signal(SIGTERM);
    const ProgramRun stopped = sync->finish(kLimit);
    EXPECT_EQ(stopped.status, 143) << sync->output();
    EXPECT_LT(stopped.seconds, 120);  // at once, not after the 600 s of the retry time
    EXPECT_THAT(sync->output(), HasSubstr("k350ctl: the journal's replay stops now"));
    EXPECT_THAT(sync->output(), HasSubstr("keeps 2 run(s) the store has not taken"));

    holder->commit();
    holder.reset();
    const auto free = StartStation(folder, {"station", "--sync", "--store", store});
    EXPECT_EQ(free->finish(kLimit).status, 0) << free->output();
    EXPECT_EQ(OpenRunStore(store, StoreAccess::Read)->history({}).size(), 2u);
}
