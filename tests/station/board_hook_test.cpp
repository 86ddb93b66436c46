// The commands a line runs after each board: a real /bin/sh, what it reads and prints, its time
// limit on its whole process group, and what the station keeps of it in SQLite and PostgreSQL.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "config/RecordRules.h"
#include "link/UsbScan.h"
#include "station/BoardHook.h"
#include "station/BoardsInProgress.h"
#include "station/Station.h"
#include "station/StationRecipe.h"
#include "station/StationSequence.h"
#include "store/PostgresConnection.h"
#include "store/SqliteConnection.h"
#include "tests/support/CliFixture.h"
#include "tests/support/OlderStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/RecipeText.h"
#include "tests/support/SimTime.h"
#include "tests/support/TemporaryFolder.h"

namespace {

using Steady = std::chrono::steady_clock;

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
    RunRecord run = Passed();
    run.operatorName = "Ivanova";
    run.lot = "W50";
    const HookOutcome outcome = RunHook(
        "cat; echo \"serial=$K350_SERIAL die=$K350_DIE_ID port=$K350_PORT result=$K350_RESULT"
        " code=${K350_SERVICE_CODE:-withheld} by $K350_OPERATOR of $K350_LOT\" >&2; exit 3",
        run, 20);
    unsetenv("K350_SERVICE_CODE");
    EXPECT_EQ(outcome.status, "exit 3");
    EXPECT_FALSE(outcome.ok);
    const std::string record = outcome.output.substr(0, outcome.output.find('\n'));
    const auto json = nlohmann::json::parse(record);  // the fields of history --json
    EXPECT_EQ(json["serial"], "0042");
    EXPECT_EQ(json["die_id"], "0x350A0123456789AB");
    EXPECT_EQ(json["result"], "passed");
    EXPECT_EQ(json["steps"][0]["step"], "flash");
    EXPECT_EQ(json["operator"], "Ivanova");
    EXPECT_NE(outcome.output.find("serial=0042 die=0x350A0123456789AB port=1-1.3 result=passed "
                                  "code=withheld by Ivanova of W50"),
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

// Waits for a hook to write a process number into `file`; 0 after the safety net's time.
pid_t PidFrom(const std::string& file) {
    for (int i = 0; i < 2000; ++i) {
        const std::string text = Slurp(file);
        if (!text.empty() && text.back() == '\n') return std::stoi(text);
        usleep(10'000);
    }
    return 0;
}

// Whether a process ends soon: one killed may take a moment to be gone.
bool Ends(pid_t pid) {
    for (int i = 0; i < 500 && Alive(pid); ++i) usleep(10'000);
    return !Alive(pid);
}

// A process of the hook that left its parent, its process group and its session: it writes its
// number into `file`, then holds the hook's output open for a minute.
std::string Escaper(const std::string& file) {
    return "(setsid sh -c 'echo $$ > " + file + ".new; mv " + file + ".new " + file +
           "; exec sleep 60' &)";
}

TEST(BoardHook, EveryProcessOfTheHookIsKilledAtTheLimitItsOwnSessionsToo) {
    const TemporaryFolder folder("k350-hooktree");
    const std::string file = folder.file("pid");
    // The shell waits on; what it started went off into a session of its own.
    HookOutcome outcome = RunHook(Escaper(file) + "; sleep 60", Passed(), 0.5);
    EXPECT_EQ(outcome.status, "killed at the 0.5 s limit");
    pid_t escaped = PidFrom(file);
    ASSERT_GT(escaped, 0);
    EXPECT_TRUE(Ends(escaped));

    // The shell gone, the escaped process holding its output.
    std::filesystem::remove(file);
    outcome = RunHook(Escaper(file) + "; exit 0", Passed(), 0.5);
    EXPECT_EQ(outcome.status, "exit 0, its other processes killed at the 0.5 s limit");
    escaped = PidFrom(file);
    ASSERT_GT(escaped, 0);
    EXPECT_TRUE(Ends(escaped));
}

TEST(BoardHook, AStopKillsEveryProcessOfTheRunningHooks) {
    const TemporaryFolder folder("k350-hookstop");
    const std::string file = folder.file("pid");
    HookOutcome outcome;
    std::thread hook([&] { outcome = RunHook(Escaper(file) + "; sleep 60", Passed(), 120); });
    const pid_t escaped = PidFrom(file);
    const auto stopped = Steady::now();
    KillRunningHooks();
    hook.join();
    ASSERT_GT(escaped, 0);
    EXPECT_EQ(outcome.status, "killed by signal 9");
    EXPECT_LT(std::chrono::duration<double>(Steady::now() - stopped).count(), 30);  // not the sleep
    EXPECT_TRUE(Ends(escaped));
}

// The station ends at once (a second signal, a crash) while a hook runs: the hook goes with it.
TEST(BoardHook, NoProcessOfAHookOutlivesTheStation) {
    const TemporaryFolder folder("k350-hookorphan");
    const std::string file = folder.file("pid");
    const pid_t station = fork();
    ASSERT_GE(station, 0);
    if (station == 0) {
        std::thread([&] { RunHook(Escaper(file) + "; sleep 60", Passed(), 120); }).detach();
        PidFrom(file);
        _exit(0);
    }
    int status = 0;
    waitpid(station, &status, 0);
    const pid_t escaped = PidFrom(file);
    ASSERT_GT(escaped, 0);
    EXPECT_TRUE(Ends(escaped));
}

// A background job of a hook that ended by itself is its own business, as in any shell.
TEST(BoardHook, WhatAHookLeftRunningAfterItsEndIsLeftAlone) {
    const TemporaryFolder folder("k350-hookleft");
    const std::string file = folder.file("pid");
    const HookOutcome outcome =
        RunHook("(sh -c 'echo $$ > " + file + "; exec sleep 60' > /dev/null 2>&1 &); echo done",
                Passed(), 20);
    EXPECT_EQ(outcome.status, "exit 0");
    const pid_t left = PidFrom(file);
    ASSERT_GT(left, 0);
    EXPECT_TRUE(Alive(left));
    kill(left, SIGKILL);
}

TEST(BoardHook, AHookThatReadsNothingAndPrintsMuchKeepsItsFirstAndLastBytes) {
    const HookOutcome outcome = RunHook("head -c 100000 /dev/zero | tr '\\0' x", Passed(), 20);
    EXPECT_EQ(outcome.status, "exit 0");
    EXPECT_EQ(outcome.output, std::string(kHookOutputPart, 'x') + "\n[83616 bytes left out]\n" +
                                  std::string(kHookOutputPart, 'x'));
    // The last line, most often the error, is kept.
    const HookOutcome lines =
        RunHook("seq 1 100000; echo 'lp: printer is off'; exit 1", Passed(), 20);
    EXPECT_TRUE(lines.output.starts_with("1\n2\n3\n")) << lines.output.substr(0, 20);
    EXPECT_TRUE(lines.output.ends_with("\n99999\n100000\nlp: printer is off\n"));
    EXPECT_NE(lines.output.find("\n[572530 bytes left out]\n"), std::string::npos);
    // A character cut at either border is left out whole: 'a', 20000 times U+00E9, 'b'.
    const std::string e = "\xC3\xA9";
    const HookOutcome cut = RunHook(
        "printf a; i=0; while [ $i -lt 200 ]; do printf '" +
            [&] {
                std::string hundred;
                for (int i = 0; i < 100; ++i) hundred += e;
                return hundred;
            }() +
            "'; i=$((i+1)); done; printf b",
        Passed(), 20);
    std::string head = "a", tail;
    for (int i = 0; i < 4095; ++i) {
        head += e;
        tail += e;
    }
    EXPECT_EQ(cut.output, head + "\n[23620 bytes left out]\n" + tail + "b");
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
        if (!TestPostgresServer().available())
            GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
        location = TestPostgresServer().createDatabase("hooks" + std::to_string(++databases));
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
    const HookRecorder record = [&](const char* hook, const HookOutcome& outcome) {
        store->recordHook(run.id, hook, outcome.status, outcome.output);
        return std::string();
    };
    RunBoardHook(
        {"echo label for $K350_SERIAL; exit 2", "", 20}, run, record,
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
        {"", "echo never", 20}, run, record,
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

// Stopped while its boards are done and only their hooks run, the station says that a second
// stop would cut the hooks, not the boards.
TEST_F(BoardHookStation, AStopWhileOnlyTheHooksRunCountsTheBoardsAtTheirHooks) {
    plugBoards(2);
    const std::string mark = tempPath("stop-told");
    StationJob job;
    job.image = std::make_shared<const std::vector<std::uint8_t>>(1000, 0x5A);
    job.station = "bench-1";
    job.store = tempPath("line.sqlite");
    job.hooks.timeoutSeconds = 60;
    job.hooks.onPass = "while [ ! -e " + mark + " ]; do sleep 0.05; done";
    std::atomic<int> passed{0};
    StationEvent stopping;
    Station station(job, clock, [&](const StationEvent& event) {
        passed += event.step == "board" && event.state == "passed";
        if (event.step != "station") return;
        stopping = event;
        std::ofstream{mark};
    });
    const StationCounts counts =
        station.run([&] { return passed == 2 ? StationStop::Finish : StationStop::None; }, 0, 10);
    EXPECT_EQ(counts.passed, 2);
    EXPECT_EQ(stopping.state, "stopping");
    EXPECT_EQ(stopping.done, 2u);
    EXPECT_EQ(stopping.total, 2u);  // both at their hooks
}

}  // namespace
