// Four station processes with eight simulated boards each against one store, PostgreSQL and an
// SQLite file: every board a serial of its own from one unbroken sequence, every run recorded,
// and a station killed mid-run leaves its boards recorded as unfinished, their serials kept.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "config/ConfigImage.h"
#include "config/ServiceCodes.h"
#include "sim/SimControl.h"
#include "store/RunStore.h"
#include "store/SqlRunStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/StartedProgram.h"

namespace {

// A safety net only: a station that has not ended by then is killed.
constexpr auto kLimit = std::chrono::minutes(3);

// One k350ctl station process on its own simulated bench of eight boards, in `folder`.
std::unique_ptr<StartedProgram> StartStation(int bench, const std::vector<std::string>& arguments,
                                             const std::string& folder,
                                             std::map<std::string, std::string> environment = {}) {
    environment.emplace("K350_SIM_BOARDS", "8");
    environment["K350_SIM_BENCH"] = std::to_string(bench);
    environment["K350_SERVICE_CODE"] = std::string(kFullServiceCode);
    return std::make_unique<StartedProgram>(K350CTL_SIM, arguments, environment, folder);
}

class StationProcessesTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/k350-stations-XXXXXX";
        folder = mkdtemp(pattern);
        if (GetParam() == "sqlite") {
            store = folder + "/line.sqlite";
        } else {
            if (!TestPostgresServer().available())
                GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
            static int databases = 0;
            database = "stations" + std::to_string(++databases);
            store = TestPostgresServer().createDatabase(database);
            ASSERT_FALSE(store.empty());
        }
        std::ofstream(folder + "/image.rom", std::ios::binary) << std::string(3000, '\x5A');
        const k350sim::Bytes record = k350sim::plausibleConfiguration(0);
        std::ofstream(folder + "/reference.kcf", std::ios::binary)
            .write(reinterpret_cast<const char*>(record.data()), std::streamsize(record.size()))
            .write(std::string(16, '\0').data(), 16);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::vector<std::string> stationArguments(const std::vector<std::string>& more) const {
        std::vector<std::string> arguments{"station",
                                           "--image",
                                           folder + "/image.rom",
                                           "--verify",
                                           "--poll",
                                           "--reference",
                                           folder + "/reference.kcf",
                                           "--store",
                                           store,
                                           "--boards",
                                           "8",
                                           "--json"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }

    std::string folder, store, database;
};

}  // namespace

TEST_P(StationProcessesTest, FourStationsShareOneUnbrokenSerialSequenceEvenWhenOneIsKilled) {
    // The store exists before the stations race to use it, as on a line it would.
    OpenRunStore(store);
    std::vector<std::unique_ptr<StartedProgram>> stations;
    for (int bench = 1; bench <= 3; ++bench) {
        stations.push_back(StartStation(bench, stationArguments({}), folder));
    }
    // The fourth soaks for a long time and is killed while its boards are in the soak.
    const auto doomed = StartStation(4, stationArguments({"--soak", "600"}), folder);
    const auto unfinished = [&] {
        int count = 0;
        for (const RunRecord& run : OpenRunStore(store)->history({})) {
            count += run.result == "unfinished" && run.dieId.substr(14, 2) == "04";
        }
        return count;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    while (unfinished() < 8 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // another process's progress
    }
    doomed->kill();
    EXPECT_EQ(doomed->finish(kLimit).status, -1);
    for (auto& station : stations) EXPECT_EQ(station->finish(kLimit).status, 0);
    EXPECT_EQ(unfinished(), 8);

    // Started again, it takes its boards again with the serials they already have.
    EXPECT_EQ(StartStation(4, stationArguments({}), folder)->finish(kLimit).status, 0);

    const auto runs = OpenRunStore(store)->history({});
    std::multiset<std::string> passedSerials;
    int unfinishedRuns = 0;
    for (const RunRecord& run : runs) {
        if (run.result == "passed") passedSerials.insert(run.serial);
        unfinishedRuns += run.result == "unfinished";
        EXPECT_NE(run.result, "failed") << run.error;
    }
    std::multiset<std::string> expected;
    for (int n = 1; n <= 32; ++n) expected.insert(SerialText(n));
    EXPECT_EQ(passedSerials, expected);
    EXPECT_EQ(unfinishedRuns, 8);
    EXPECT_EQ(runs.size(), 40u);
}

// The first signal is answered at once and the boards under way finish; a second one cuts
// their downloads, names them, records them as interrupted and prints the summary.
TEST_P(StationProcessesTest, AStopIsAnsweredAtOnceAndASecondOneIsRecorded) {
    OpenRunStore(store);
    std::ofstream(folder + "/whole.rom", std::ios::binary) << std::string(0x20000, '\x5A');
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        // The soak keeps the boards under way however quickly they are flashed.
        const auto station = StartStation(10 + signal,
                                          {"station", "--image", folder + "/whole.rom", "--store",
                                           store, "--boards", "2", "--soak", "600", "--json"},
                                          folder, {{"K350_SIM_BOARDS", "2"}});
        ASSERT_TRUE(station->waitForText("\"step\":\"identify\"", kLimit));
        station->signal(signal);
        const std::string again = signal == SIGINT ? "Ctrl+C again" : "a second signal";
        EXPECT_TRUE(station->waitForText(
            "finishing 2 boards; " + again + " stops now and leaves their flash incomplete",
            kLimit));
        station->signal(signal);
        const ProgramRun ended = station->finish(kLimit);
        EXPECT_EQ(ended.status, 128 + signal);
        const std::string text = ended.out + ended.err;
        EXPECT_NE(text.find(": stopped "), std::string::npos) << text;
        EXPECT_NE(text.find("0 passed, 0 failed, 0 skipped, 0 unusable, 2 interrupted"),
                  std::string::npos)
            << text;
    }
    int interrupted = 0;
    for (const RunRecord& run : OpenRunStore(store)->history({})) {
        EXPECT_EQ(run.result, "interrupted");
        EXPECT_TRUE(run.failedStep == "flash" || run.failedStep == "soak") << run.failedStep;
        interrupted += run.result == "interrupted";
    }
    EXPECT_EQ(interrupted, 4);
}

// A board that cannot be taken is named with its port and why, and counts towards --boards.
TEST_P(StationProcessesTest, ABoardHeldByAnotherProgramIsNamedAndCounted) {
    std::vector<std::string> arguments = stationArguments({});
    arguments[std::find(arguments.begin(), arguments.end(), "--boards") - arguments.begin() + 1] =
        "2";
    const ProgramRun ended =
        StartStation(20, arguments, folder, {{"K350_SIM_BOARDS", "2"}, {"K350_SIM_HELD", "2"}})
            ->finish(kLimit);
    EXPECT_EQ(ended.status, 1);
    const std::string text = ended.out + ended.err;
    EXPECT_NE(text.find("\"state\":\"unusable\",\"error\":\"held by another program"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("1 passed, 0 failed, 0 skipped, 1 unusable"), std::string::npos) << text;
    int unusable = 0;
    for (const RunRecord& run : OpenRunStore(store)->history({})) {
        unusable += run.result == "unusable" && run.error.starts_with("held by another program");
    }
    EXPECT_EQ(unusable, 1);
}

// The station's secrets (the store's password, libpq's files and service, the board's access
// code) never reach a hook: not its output, not the store that keeps it, not the JSON lines. On
// PostgreSQL the password is the one the store is reached with.
TEST_P(StationProcessesTest, NoSecretOfTheStationReachesItsHooks) {
    const std::string password =
        GetParam() == "sqlite" ? "pw-for-another-db" : TestPostgresServer().kPassword;
    const std::string location =
        GetParam() == "sqlite" ? store : TestPostgresServer().passwordUrl(database);
    const std::map<std::string, std::string> secrets{
        {"PGPASSWORD", password},
        {"PGPASSFILE", folder + "/secret-passfile"},
        {"PGSERVICEFILE", folder + "/secret-servicefile"},
        {"PGSSLKEY", folder + "/secret-sslkey"},
        {"K350_SERVICE_CODE", std::string(kFullServiceCode)}};
    std::map<std::string, std::string> environment = secrets;
    environment["K350_SIM_BOARDS"] = "2";
    // Whatever it was given stands on its last line too, the one the operator's table shows.
    const std::string hook =
        "env; echo \"last: $PGPASSWORD $PGPASSFILE $PGSERVICEFILE $PGSSLKEY $K350_SERVICE_CODE\"";
    const ProgramRun ended = StartStation(30,
                                          {"station", "--image", folder + "/image.rom", "--store",
                                           location, "--boards", "2", "--json", "--on-pass", hook},
                                          folder, environment)
                                 ->finish(kLimit);
    ASSERT_EQ(ended.status, 0) << ended.out << ended.err;
    EXPECT_NE(ended.out.find("\"step\":\"hook\",\"state\":\"done\""), std::string::npos)
        << ended.out;
    const auto kept = OpenSqlRunStore(store, StoreAccess::Read)
                          ->connection()
                          .run("SELECT hook_output FROM k350_runs");
    ASSERT_EQ(kept.size(), 2u);
    const ProgramRun history =
        StartedProgram(K350CTL_SIM, {"history", "--json", "--store", store}, {}, folder)
            .finish(kLimit);
    for (const auto& [name, secret] : secrets) {
        SCOPED_TRACE(name);
        for (const SqlRow& row : kept) {
            ASSERT_TRUE(row.at(0));
            EXPECT_NE(row[0]->find("K350_SERIAL="), std::string::npos) << *row[0];
            EXPECT_EQ(row[0]->find(name + "="), std::string::npos) << *row[0];
            EXPECT_EQ(row[0]->find(secret), std::string::npos) << *row[0];
        }
        EXPECT_EQ(ended.out.find(secret), std::string::npos) << ended.out;
        EXPECT_EQ(ended.err.find(secret), std::string::npos) << ended.err;
        EXPECT_EQ(history.out.find(secret), std::string::npos) << history.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, StationProcessesTest,
                         ::testing::Values("sqlite", "postgresql"));
