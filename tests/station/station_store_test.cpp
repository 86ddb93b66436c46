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
#include <set>
#include <sstream>
#include <thread>

#include "store/RunStore.h"
#include "config/ServiceCodes.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/StartedProgram.h"

using ::testing::HasSubstr;

namespace {

constexpr int kBoards = 4;

PostgresServer& Server() {
    static PostgresServer server;
    return server;
}

// A safety net only: a station that has not ended by then is killed.
constexpr auto kLimit = std::chrono::minutes(3);

// One k350ctl process on a simulated bench of four boards, in `folder` (where its journal is).
std::unique_ptr<StartedProgram> StartStation(const std::string& folder,
                                             const std::vector<std::string>& arguments) {
    return std::make_unique<StartedProgram>(
        K350CTL_SIM, arguments,
        std::map<std::string, std::string>{{"K350_SIM_BOARDS", std::to_string(kBoards)},
                                           {"K350_SERVICE_CODE", std::string(kFullServiceCode)}},
        folder);
}

class StationStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/k350-station-store-XXXXXX";
        folder = mkdtemp(pattern);
        std::ofstream(folder + "/image.rom", std::ios::binary) << std::string(3000, '\x5A');
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    bool usePostgres(const std::string& database) {
        if (!Server().available()) return false;
        store = Server().createDatabase(database);
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
    if (!usePostgres("restart")) GTEST_SKIP() << "PostgreSQL: " << Server().problem();
    const auto line = StartStation(folder, station({}));
    ASSERT_TRUE(line->waitForText(kReadBack, kLimit, kBoards)) << line->output();
    ASSERT_TRUE(Server().stop());
    std::this_thread::sleep_for(std::chrono::seconds(6));  // the soaks end while it is down
    ASSERT_TRUE(Server().start());
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
    if (!usePostgres("late")) GTEST_SKIP() << "PostgreSQL: " << Server().problem();
    ASSERT_TRUE(Server().stop());
    const auto line = StartStation(folder, station({}));
    std::this_thread::sleep_for(std::chrono::seconds(20));
    EXPECT_THAT(line->output(), HasSubstr("k350ctl: waiting for the store (up to 60 s): store "));
    ASSERT_TRUE(Server().start());
    const int status = line->finish(kLimit).status;
    const std::string log = line->output();
    EXPECT_EQ(status, 0) << log;
    EXPECT_THAT(log, HasSubstr("k350ctl: the store is back"));
    expectEveryBoardRecordedOnce(log);
}

// The server stays away longer than the station waits: the results go into the journal, the
// station says so and fails, and `station --sync` writes them, once however often it runs.
TEST_F(StationStoreTest, ResultsThePostgresStoreCouldNotTakeWaitInTheJournal) {
    if (!usePostgres("journal")) GTEST_SKIP() << "PostgreSQL: " << Server().problem();
    const auto line = StartStation(folder, station({"--store-retry", "2"}));
    ASSERT_TRUE(line->waitForText(kReadBack, kLimit, kBoards)) << line->output();
    ASSERT_TRUE(Server().stop());
    const int status = line->finish(kLimit).status;
    const std::string log = line->output();
    EXPECT_EQ(status, 4) << log;
    EXPECT_THAT(log,
                HasSubstr("the run is kept in the journal " + folder + "/k350-station.journal"));
    EXPECT_THAT(log, HasSubstr("keeps 4 run(s) the store has not taken"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("\\n\"")));  // no JSON string ends a line
    ASSERT_TRUE(Server().start());
    for (int time = 0; time < 2; ++time) {
        const auto sync = StartStation(folder, {"station", "--sync", "--store", store});
        EXPECT_EQ(sync->finish(kLimit).status, 0) << sync->output();
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/k350-station.journal"));
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
    EXPECT_THAT(log,
                HasSubstr("the run is kept in the journal " + folder + "/k350-station.journal"));
    disk.makeRoom();
    // The next start writes them before it takes a board; there are none to take this time.
    const auto next = StartStation(folder, {"station", "--image", folder + "/image.rom", "--store",
                                            store, "--boards", "1", "--store-retry", "1"});
    ASSERT_TRUE(next->waitForText(
        "4 run(s) from the journal " + folder + "/k350-station.journal written", kLimit))
        << next->output();
    next->finish(kLimit);
    EXPECT_FALSE(std::filesystem::exists(folder + "/k350-station.journal"));
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
            GTEST_SKIP() << "PostgreSQL: " << Server().problem();
        }
        const auto line = StartStation(folder, station({}));
        // Every board has its run begun; the next statement is its end, after the soak.
        ASSERT_TRUE(line->waitForText(R"("step":"identify","state":"done")", kLimit, kBoards))
            << line->output();
        ASSERT_TRUE(Server().stop());
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
        ASSERT_TRUE(Server().start());
        const auto sync = StartStation(folder, {"station", "--sync", "--store", store});
        EXPECT_EQ(sync->finish(kLimit).status, 0) << sync->output();
        expectEveryBoardRecordedOnce(log);
    }
}

// Before any board is taken there is nothing to finish: the first signal ends the wait for a
// server that is down.
TEST_F(StationStoreTest, AStopWhileTheStationWaitsForTheStoreAtItsStartEndsIt) {
    if (!usePostgres("stoppedatstart")) GTEST_SKIP() << "PostgreSQL: " << Server().problem();
    ASSERT_TRUE(Server().stop());
    const auto line = StartStation(folder, station({}));
    ASSERT_TRUE(line->waitForText("k350ctl: waiting for the store (up to 60 s)", kLimit))
        << line->output();
    line->signal(SIGINT);
    EXPECT_EQ(line->finish(kLimit).status, 130);
    EXPECT_THAT(line->output(), HasSubstr("k350ctl: stopped while waiting for the store: store "));
    ASSERT_TRUE(Server().start());
}
