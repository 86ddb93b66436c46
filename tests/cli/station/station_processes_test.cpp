// Four station processes with eight simulated boards each against one store, PostgreSQL and an
// SQLite file: every board a serial of its own from one unbroken sequence, every run recorded,
// and a station killed mid-run leaves its boards recorded as unfinished, their serials kept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "cli/store/RunStore.h"
#include "config/ConfigImage.h"
#include "config/ServiceCodes.h"
#include "sim/SimControl.h"
#include "tests/support/PostgresServer.h"

namespace {

PostgresServer& Server() {
    static PostgresServer server;
    return server;
}

// One k350ctl station process on its own simulated bench of eight boards.
class StationProcess {
public:
    StationProcess(int bench, const std::vector<std::string>& arguments, const std::string& log) {
        pid_ = fork();
        if (pid_ != 0) return;
        setenv("K350_SIM_BOARDS", "8", 1);
        setenv("K350_SIM_BENCH", std::to_string(bench).c_str(), 1);
        setenv("K350_SERVICE_CODE", std::string(kFullServiceCode).c_str(), 1);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(K350CTL_SIM)};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(K350CTL_SIM, argv.data());
        _exit(127);
    }
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void kill() { ::kill(pid_, SIGKILL); }

private:
    pid_t pid_ = -1;
};

class StationProcessesTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/k350-stations-XXXXXX";
        folder = mkdtemp(pattern);
        if (GetParam() == "sqlite") {
            store = folder + "/line.sqlite";
        } else {
            if (!Server().available()) GTEST_SKIP() << "PostgreSQL: " << Server().problem();
            static int databases = 0;
            store = Server().createDatabase("stations" + std::to_string(++databases));
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

    std::string folder, store;
};

}  // namespace

TEST_P(StationProcessesTest, FourStationsShareOneUnbrokenSerialSequenceEvenWhenOneIsKilled) {
    // The store exists before the stations race to use it, as on a line it would.
    OpenRunStore(store);
    std::vector<std::unique_ptr<StationProcess>> stations;
    for (int bench = 1; bench <= 3; ++bench) {
        stations.push_back(std::make_unique<StationProcess>(
            bench, stationArguments({}), folder + "/bench" + std::to_string(bench) + ".log"));
    }
    // The fourth soaks for a long time and is killed while its boards are in the soak.
    StationProcess doomed(4, stationArguments({"--soak", "600"}), folder + "/bench4.log");
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
    doomed.kill();
    EXPECT_EQ(doomed.wait(), -1);
    for (auto& station : stations) EXPECT_EQ(station->wait(), 0);
    EXPECT_EQ(unfinished(), 8);

    // Started again, it takes its boards again with the serials they already have.
    StationProcess again(4, stationArguments({}), folder + "/bench4-again.log");
    EXPECT_EQ(again.wait(), 0);

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

INSTANTIATE_TEST_SUITE_P(Databases, StationProcessesTest,
                         ::testing::Values("sqlite", "postgresql"));
