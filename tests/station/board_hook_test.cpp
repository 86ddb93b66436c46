// The commands a line runs after each board: a real /bin/sh, what it reads and prints, its time
// limit on its whole process group, and what the station keeps of it in SQLite and PostgreSQL.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "station/BoardHook.h"
#include "station/BoardsInProgress.h"
#include "station/Station.h"
#include "station/StationRecipe.h"
#include "station/StationSequence.h"
#include "store/PostgresConnection.h"
#include "store/SqliteConnection.h"
#include "config/RecordRules.h"
#include "link/UsbScan.h"
#include "tests/support/CliFixture.h"
#include "tests/support/OlderStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/RecipeText.h"
#include "tests/support/SimTime.h"

namespace {

using Steady = std::chrono::steady_clock;

PostgresServer& Server() {
    static PostgresServer server;
    return server;
}

RunRecord Passed() {
    RunRecord run;
    run.id = 7;
    run.dieId = "0x350A0123456789AB";
    run.chipId = "0x5449000550C10207";
    run.serial = "0042";
    run.station = "bench-1";
    run.port = "1-1.3";
    run.recipe = "K-350A, line 2";
    run.startedAt = "2026-12-09T10:00:00Z";
    run.finishedAt = "2026-12-09T10:01:10Z";
    run.result = RunResult::Passed;
    run.steps = R"([{"step":"flash","ok":true}])";
    return run;
}

std::string Slurp(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Whether a process still runs (a zombie no longer does).
bool Alive(pid_t pid) {
    const std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return false;
    const auto state = stat.find(") ");
    return state != std::string::npos && stat[state + 2] != 'Z';
}

TEST(BoardHook, ReadsTheRecordAndItsVariablesAndItsOutputAndStatusAreKept) {
    setenv("K350_SERVICE_CODE", "1234-secret", 1);
    const HookOutcome outcome = RunHook(
        "cat; echo \"serial=$K350_SERIAL die=$K350_DIE_ID port=$K350_PORT result=$K350_RESULT"
        " code=${K350_SERVICE_CODE:-withheld}\" >&2; exit 3",
        Passed(), 20);
    unsetenv("K350_SERVICE_CODE");
    EXPECT_EQ(outcome.status, "exit 3");
    EXPECT_FALSE(outcome.ok);
    const std::string record = outcome.output.substr(0, outcome.output.find('\n'));
    const auto json = nlohmann::json::parse(record);  // the fields of history --json
    EXPECT_EQ(json["serial"], "0042");
    EXPECT_EQ(json["die_id"], "0x350A0123456789AB");
    EXPECT_EQ(json["result"], "passed");
    EXPECT_EQ(json["steps"][0]["step"], "flash");
    EXPECT_NE(outcome.output.find("serial=0042 die=0x350A0123456789AB port=1-1.3 result=passed "
                                  "code=withheld"),
              std::string::npos)
        << outcome.output;
    EXPECT_TRUE(RunHook("true", Passed(), 20).ok);
    EXPECT_EQ(RunHook("kill -9 $$", Passed(), 20).status, "killed by signal 9");
}

TEST(BoardHook, AHangingHookIsKilledWithEverythingItStartedAtTheLimit) {
    char pattern[] = "/tmp/k350-hook-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const auto started = Steady::now();
    const HookOutcome outcome =
        RunHook("sleep 60 & echo $! > " + folder + "/pid; echo waiting; wait", Passed(), 0.5);
    const double took = std::chrono::duration<double>(Steady::now() - started).count();
    EXPECT_EQ(outcome.status, "killed at the 0.5 s limit");
    EXPECT_EQ(outcome.output, "waiting\n");
    EXPECT_LT(took, 10);  // the limit, not the sleep
    const pid_t sleeper = std::stoi(Slurp(folder + "/pid"));
    for (int i = 0; i < 200 && Alive(sleeper); ++i) usleep(10'000);
    EXPECT_FALSE(Alive(sleeper));

    // The shell gone, but something it left still holds the output open.
    const HookOutcome left = RunHook("sleep 60 & exit 0", Passed(), 0.5);
    EXPECT_EQ(left.status, "exit 0, its other processes killed at the 0.5 s limit");
    EXPECT_FALSE(left.ok);
    std::filesystem::remove_all(folder);
}

TEST(BoardHook, AHookThatReadsNothingAndPrintsMuchIsCutNotStuck) {
    const HookOutcome outcome = RunHook("head -c 100000 /dev/zero | tr '\\0' x", Passed(), 20);
    EXPECT_EQ(outcome.status, "exit 0");
    EXPECT_EQ(outcome.output.size(), kHookOutputLimit);
    // Bytes a text column cannot hold become U+FFFD.
    EXPECT_EQ(RunHook("printf '\\377ok\\000x'", Passed(), 20).output,
              "\xEF\xBF\xBDok\xEF\xBF\xBDx");
}

// The README's use: the record posted with curl to the line's own system, here a server of the
// test's on a Unix socket that answers one request.
TEST(BoardHook, CurlPostsTheRecordToTheLinesSystem) {
    if (!std::filesystem::exists("/usr/bin/curl")) GTEST_SKIP() << "curl is not installed";
    char pattern[] = "/tmp/k350-post-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string path = folder + "/records.sock";
    const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 1), 0);
    std::string request;
    std::thread answer([&] {
        pollfd waiting{server, POLLIN, 0};
        if (poll(&waiting, 1, 60'000) != 1) return;  // a safety net against a curl that never came
        const int client = accept(server, nullptr, nullptr);
        if (client < 0) return;
        const timeval limit{60, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[4096];
        // Until the body announced by Content-Length is in.
        for (ssize_t n; (n = read(client, buffer, sizeof buffer)) > 0;) {
            request.append(buffer, std::size_t(n));
            const auto head = request.find("\r\n\r\n");
            const auto length = request.find("Content-Length: ");
            if (head != std::string::npos && length != std::string::npos &&
                request.size() >= head + 4 + std::stoul(request.substr(length + 16))) {
                break;
            }
        }
        const std::string reply =
            "HTTP/1.1 201 Created\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        (void)!write(client, reply.data(), reply.size());
        close(client);
    });
    const HookOutcome outcome = RunHook(
        "exec curl --fail --silent --show-error --max-time 20 --unix-socket " + path +
            " -H 'Content-Type: application/json' --data-binary @- http://line/api/k350/runs",
        Passed(), 30);
    answer.join();
    close(server);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(outcome.status, "exit 0") << outcome.output;
    EXPECT_TRUE(request.starts_with("POST /api/k350/runs HTTP/1.1")) << request;
    const std::string body = request.substr(request.find("\r\n\r\n") + 4);
    const auto record = nlohmann::json::parse(body);
    EXPECT_EQ(record["serial"], "0042");
    EXPECT_EQ(record["die_id"], "0x350A0123456789AB");
}

TEST(BoardHook, TheRecipeNamesTheCommandsAndTheirLimit) {
    const TemporaryFolder folder("k350-hookrecipe");
    const auto recipe = [&](const std::string& text) {
        return LoadedRecipe(folder, "[soak]\nseconds = 1\n" + text);
    };
    const StationSettings given = recipe(
        "[hooks]\non_pass = \"lp label\"\non_fail = \"logger failed\"\ntimeout_seconds = 5\n");
    EXPECT_EQ(given.hooks.onPass, "lp label");
    EXPECT_EQ(given.hooks.onFail, "logger failed");
    EXPECT_EQ(given.hooks.timeoutSeconds, 5);
    EXPECT_EQ(BuildStationJob(given).hooks.onFail, "logger failed");
    EXPECT_EQ(recipe("").hooks.timeoutSeconds, 30);
    EXPECT_THROW(recipe("[hooks]\ntimeout_seconds = 0\n"), RecipeError);
    EXPECT_THROW(recipe("[hooks]\non_passed = \"x\"\n"), RecipeError);
    EXPECT_THROW(recipe("[hooks]\non_pass = 3\n"), RecipeError);
}

class BoardHookStore : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        static int databases = 0;
        if (GetParam() == "sqlite") {
            char pattern[] = "/tmp/k350-hookstore-XXXXXX";
            folder = mkdtemp(pattern);
            location = folder + "/line.sqlite";
            return;
        }
        if (!Server().available()) GTEST_SKIP() << "PostgreSQL: " << Server().problem();
        location = Server().createDatabase("hooks" + std::to_string(++databases));
        ASSERT_FALSE(location.empty());
    }
    void TearDown() override {
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }

    std::vector<SqlRow> hookColumns() {
        const std::string sql = "SELECT hook, hook_status, hook_output FROM k350_runs ORDER BY id";
        if (GetParam() == "sqlite") return SqliteConnection(location).run(sql);
        return PostgresConnection(location).run(sql);
    }

    std::string folder, location;
};

TEST_P(BoardHookStore, TheHooksOutcomeIsKeptWithItsRunAndAFailingHookChangesNothingElse) {
    auto store = OpenRunStore(location);
    RunRecord run = Passed();
    run.id = store->beginRun(run);
    store->finishRun(run);
    std::vector<std::pair<std::string, std::string>> told;
    RunBoardHook(
        {"echo label for $K350_SERIAL; exit 2", "", 20}, run, *store,
        [&](const char* state, const std::string& text) { told.emplace_back(state, text); });
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].first, "failed");
    EXPECT_EQ(told[0].second, "on_pass: exit 2: label for 0042");
    const auto rows = hookColumns();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "on_pass");
    EXPECT_EQ(rows[0][1], "exit 2");
    EXPECT_EQ(rows[0][2], "label for 0042\n");
    EXPECT_EQ(store->history({}).at(0).result, "passed");

    // No command for the result: nothing run, nothing recorded.
    told.clear();
    RunBoardHook(
        {"", "echo never", 20}, run, *store,
        [&](const char* state, const std::string& text) { told.emplace_back(state, text); });
    EXPECT_TRUE(told.empty());
}

// A store an older k350ctl made gets the hook's columns on opening, its runs kept.
TEST_P(BoardHookStore, AnOlderStoreGainsTheHookColumns) {
    {
        std::unique_ptr<SqlConnection> db;
        if (GetParam() == "sqlite") {
            db = std::make_unique<SqliteConnection>(location);
        } else {
            db = std::make_unique<PostgresConnection>(location);
        }
        MakeOlderStore(*db, 1);
        AddOlderRun(*db, "0x01", "0001");
    }
    auto store = OpenRunStore(location);
    store->recordHook(store->history({}).at(0).id, "on_pass", "exit 0", "printed");
    const auto rows = hookColumns();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], "exit 0");
}

INSTANTIATE_TEST_SUITE_P(Databases, BoardHookStore, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

class BoardHookStation : public CliFixture {};

// Once the operator stopped now, a board that ends (here one that cannot be taken) starts no hook.
TEST_F(BoardHookStation, NoHookStartsOnceTheStationIsStoppedNow) {
    k350sim::reset();
    k350sim::addBoard(k350sim::addBus(), {.refusesInterface0 = true});
    RunSimOnClock(clock);
    const std::string mark = tempPath("hook-ran");
    StationJob job;
    job.image = std::make_shared<const std::vector<std::uint8_t>>(1000, 0x5A);
    job.station = "bench-1";
    job.store = tempPath("line.sqlite");
    job.hooks.timeoutSeconds = 60;
    job.hooks.onFail = "touch " + mark;
    const auto store = OpenRunStore(job.store);
    BoardsInProgress boards;
    const std::atomic<bool> cut{true};
    std::vector<StationEvent> events;
    StationSequence sequence(
        job, *store, clock, [&](const StationEvent& event) { events.push_back(event); }, boards,
        cut);
    EXPECT_EQ(sequence.run(ScanBoards().at(0), "1-1"), BoardOutcome::Unusable);
    EXPECT_FALSE(std::filesystem::exists(mark));
    EXPECT_TRUE(std::none_of(events.begin(), events.end(),
                             [](const StationEvent& event) { return event.step == "hook"; }));
    EXPECT_EQ(store->history({}).at(0).result, "unusable");
}

// Two boards end at once; the first one's hook waits until the second one's has run. Run one
// after the other, the first would be killed at its limit.
TEST_F(BoardHookStation, HooksOfSeveralPortsRunAtOnceAndTheBoardsResultStands) {
    plugBoards(2);
    const std::string first = RecordRules::DeviceIdText(dieIdFor(1).data());
    const std::string mark = tempPath("second-ran");
    StationJob job;
    job.image = std::make_shared<const std::vector<std::uint8_t>>(1000, 0x5A);
    job.recipe = "hook test";
    job.station = "bench-1";
    job.store = tempPath("line.sqlite");
    job.hooks.timeoutSeconds = 60;
    job.hooks.onPass = "cat > " + tempPath("$K350_SERIAL.json") +
                       "; if [ \"$K350_DIE_ID\" = " + first + " ]; then while [ ! -e " + mark +
                       " ]; do sleep 0.05; done; echo first; exit 1; else touch " + mark +
                       "; echo second; fi";
    std::mutex mutex;
    std::vector<StationEvent> hooks;
    Station station(job, clock, [&](const StationEvent& event) {
        std::lock_guard lock(mutex);
        if (event.step == "hook") hooks.push_back(event);
    });
    const StationCounts counts = station.run([] { return StationStop::None; }, 2);
    EXPECT_EQ(counts.passed, 2);  // the first hook's exit 1 changes no result
    ASSERT_EQ(hooks.size(), 2u);
    for (const StationEvent& event : hooks) {
        if (event.dieId == first) {
            EXPECT_EQ(event.state, "failed");
            EXPECT_EQ(event.error, "on_pass: exit 1: first");
        } else {
            EXPECT_EQ(event.state, "done");
            EXPECT_EQ(event.error, "on_pass: exit 0: second");
        }
    }
    for (const RunRecord& run : OpenRunStore(job.store)->history({})) {
        EXPECT_EQ(run.result, "passed");
        const auto record = nlohmann::json::parse(Slurp(tempPath(run.serial + ".json")));
        EXPECT_EQ(record["id"], run.id);
        EXPECT_EQ(record["result"], "passed");
    }
    const auto rows =
        SqliteConnection(job.store).run("SELECT hook_status FROM k350_runs ORDER BY hook_status");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "exit 0");
    EXPECT_EQ(rows[1][0], "exit 1");
}

}  // namespace
