// The whole line as it runs: three station processes on one PostgreSQL server, two on one SQLite
// file, each bench a PC of its own whose boards the shipped k350ctl reaches through its real USB
// library and the kernel's interface emulated under umockdev. One station is killed mid-flash and
// started again while the server is down; the server comes back while boards are on the line.
// Every board ends passed once with a serial of its own from one unbroken sequence, and holds the
// serial the store names.
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "config/ConfigImage.h"
#include "config/Cp1251.h"
#include "config/ServiceCodes.h"
#include "store/RunStore.h"
#include "store/SerialForm.h"
#include "tests/realstack/RealStack.h"
#include "tests/support/PostgresServer.h"

namespace sim = k350sim;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kBoardsPerBench = 3;
constexpr auto kLimit = std::chrono::minutes(3);  // a safety net: every wait is for an event

std::string DieIdText(const sim::Id8& id) {
    std::string text = "0x";
    for (const uint8_t byte : id) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", unsigned(byte));
        text += digits;
    }
    return text;
}

// Waits for an event of another thread or process; the limit is only a safety net.
bool WaitedFor(const std::function<bool()>& event) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (!event() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return event();
}

bool IsPageProgram(const sim::Bytes& request) {
    return request.size() > 8 && request[0] == 2 && request[1] == 0 && request[8] == 0x02;
}

// One bench: its own PC with its own hub of boards, its own folder (and journal), one store.
struct Bench {
    int number = 0;  // also the seventh byte of its boards' die IDs
    int bus = 0;
    std::string store, folder;
    std::vector<sim::DeviceId> boards;
    std::vector<std::string> dieIds;
    std::unique_ptr<sim::UsbfsAttachment> pc;
    std::unique_ptr<StartedProgram> station;
};

class RealStackLine : public RealStackTest {
protected:
    void SetUp() override {
        RealStackTest::SetUp();
        if (!TestPostgresServer().available())
            GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
        postgres = TestPostgresServer().createDatabase("line");
        ASSERT_FALSE(postgres.empty());
        sqlite = workDir() + "/line.sqlite";
        std::ofstream(workDir() + "/image.rom", std::ios::binary) << Image();
        const sim::Bytes record = sim::plausibleConfiguration(0);
        std::ofstream(workDir() + "/reference.kcf", std::ios::binary)
            .write(reinterpret_cast<const char*>(record.data()), std::streamsize(record.size()))
            .write(std::string(16, '\0').data(), 16);
    }
    void TearDown() override {
        sim::setReplyHook({});
        for (const auto& bench : benches) {
            if (HasFailure() && bench->station) {
                std::printf("bench %d:\n%s%s\n", bench->number, bench->station->err().c_str(),
                            bench->station->out().c_str());
            }
        }
        benches.clear();  // the stations first (killed if still running), then their PCs
        if (!TestPostgresServer().available()) TestPostgresServer().start();
        RealStackTest::TearDown();
    }

    static std::string Image() {
        std::string image(8192, '\0');
        for (size_t i = 0; i < image.size(); ++i) image[i] = char(i * 7 + i / 256);
        return image;
    }

    Bench& addBench(const std::string& store) {
        auto bench = std::make_unique<Bench>();
        bench->number = int(benches.size()) + 1;
        bench->store = store;
        bench->folder = workDir() + "/bench" + std::to_string(bench->number);
        mkdir(bench->folder.c_str(), 0777);
        chmod(bench->folder.c_str(), 0777);
        bench->bus = addBusWithOthers();
        for (int i = 0; i < kBoardsPerBench; ++i) {
            sim::BoardOptions options;
            options.dieId[6] = uint8_t(bench->number);
            options.dieId[7] = uint8_t(i + 1);
            const sim::DeviceId board = sim::addBoard(bench->bus, options);
            sim::setEeprom(board, 0, sim::plausibleConfiguration(0));
            bench->boards.push_back(board);
            bench->dieIds.push_back(DieIdText(options.dieId));
        }
        benches.push_back(std::move(bench));
        return *benches.back();
    }

    // Each bench's PC sees its own bus only, as benches with a PC each do.
    void attachPcs() {
        for (auto& bench : benches) {
            bench->pc = std::make_unique<sim::UsbfsAttachment>();
            bench->pc->attachBuses({bench->bus});
            bench->pc->openToEveryone();
        }
    }

    void startStation(Bench& bench) {
        const std::vector<std::string> arguments{"station",
                                                 "--image",
                                                 workDir() + "/image.rom",
                                                 "--verify",
                                                 "--poll",
                                                 "--reference",
                                                 workDir() + "/reference.kcf",
                                                 "--soak",
                                                 "4",
                                                 "--store",
                                                 bench.store,
                                                 "--store-retry",
                                                 "120",
                                                 "--boards",
                                                 std::to_string(kBoardsPerBench),
                                                 "--json"};
        const std::map<std::string, std::string> environment{
            {"UMOCKDEV_DIR", bench.pc->rootDir()},
            {"K350_SERVICE_CODE", std::string(kFullServiceCode)},
            {"K350_STATION", "bench-" + std::to_string(bench.number)}};
        bench.station = StartUnderTestbed(K350CTL_PROGRAM, arguments, environment, bench.folder);
    }

    // Whether one of the benches' output (standard output or error) holds `text` now.
    static bool anyShows(const std::vector<Bench*>& some, const std::string& text) {
        return std::any_of(some.begin(), some.end(), [&](Bench* bench) {
            return bench->station->waitForText(text, std::chrono::seconds(0));
        });
    }

    std::vector<RunRecord> runs(const std::string& store) const {
        return OpenRunStore(store, StoreAccess::Read)->history({});
    }

    // Every board passed exactly once with a serial of its own, 0001 on without a gap, holds that
    // serial in its EEPROM; nothing is unfinished but a run of a board the killed station held,
    // and that board kept its serial.
    void expectLine(const std::string& store, const std::set<std::string>& killedBoards) {
        std::map<std::string, std::vector<RunRecord>> byBoard;
        for (const RunRecord& run : runs(store)) byBoard[run.dieId].push_back(run);
        std::set<std::string> serials;
        int boards = 0;
        for (const auto& bench : benches) {
            if (bench->store != store) continue;
            for (size_t i = 0; i < bench->boards.size(); ++i) {
                ++boards;
                const std::string& die = bench->dieIds[i];
                const std::vector<RunRecord>& own = byBoard[die];
                int passed = 0, unfinished = 0;
                std::string serial;
                for (const RunRecord& run : own) {
                    unfinished += run.result == "unfinished";
                    EXPECT_THAT(run.result, ::testing::AnyOf("passed", "unfinished"))
                        << die << ": " << run.failedStep << ": " << run.error;
                    if (run.result == "passed") {
                        ++passed;
                        serial = run.serial;
                    }
                    if (run.result == "unfinished") {
                        EXPECT_TRUE(killedBoards.count(die)) << die;
                    }
                }
                EXPECT_EQ(passed, 1) << die;
                EXPECT_LE(unfinished, 1) << die;  // the killed station's run, and no other
                for (const RunRecord& run : own) EXPECT_EQ(run.serial, serial) << die;
                EXPECT_TRUE(serials.insert(serial).second) << die << " has " << serial;
                const sim::Bytes eeprom = sim::eeprom(bench->boards[i]);
                EXPECT_EQ(ReadTextField(eeprom.data() + ConfigOffset::Serial, ConfigLength::Serial),
                          serial)
                    << die;
            }
        }
        std::set<std::string> unbroken;
        for (int n = 1; n <= boards; ++n) unbroken.insert(SerialText(n));
        EXPECT_EQ(serials, unbroken) << store;
    }

    // Each board's last line says passed, with its serial, or skipped (passed before).
    static void expectLastLines(const Bench& bench, const std::string& out) {
        std::map<std::string, nlohmann::json> last;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("{")) continue;
            const auto json = nlohmann::json::parse(line, nullptr, false);
            if (json.is_discarded() || json.value("step", "") != "board") continue;
            last[json.at("die_id").get<std::string>()] = json;
        }
        EXPECT_EQ(last.size(), bench.dieIds.size()) << out;
        for (const auto& [die, json] : last) {
            const std::string state = json.at("state").get<std::string>();
            EXPECT_THAT(state, ::testing::AnyOf("passed", "skipped")) << json.dump();
            if (state == "passed") {
                EXPECT_TRUE(json.at("serial").is_string()) << json.dump();
            }
        }
    }

    std::string postgres, sqlite;
    std::vector<std::unique_ptr<Bench>> benches;
};

}  // namespace

TEST_F(RealStackLine, ThreeStationsOnPostgresAndTwoOnSqliteLoseNoBoardToAKillOrARestart) {
    std::vector<Bench*> onPostgres, onSqlite;
    for (int i = 0; i < 3; ++i) onPostgres.push_back(&addBench(postgres));
    for (int i = 0; i < 2; ++i) onSqlite.push_back(&addBench(sqlite));
    attachPcs();
    Bench& doomed = *onPostgres.back();

    // The doomed station dies at its first board's fourth page program: mid-flash for certain,
    // however slow the machine. The hook runs in this process, which answers the board.
    std::atomic<pid_t> doomedPid{0};
    std::atomic<bool> cut{false};
    int pagesProgrammed = 0;  // the hook runs with the simulator locked
    const sim::DeviceId cutBoard = doomed.boards.front();
    sim::setReplyHook([&](sim::DeviceId board, const sim::Bytes& request, sim::Bytes&) {
        if (board != cutBoard || cut || !IsPageProgram(request) || ++pagesProgrammed < 4) return 0;
        cut = true;
        if (const pid_t pid = doomedPid) kill(pid, SIGKILL);
        return 1;  // no reply: the station is gone before it could read one
    });
    for (auto& bench : benches) startStation(*bench);
    doomedPid = doomed.station->pid();
    ASSERT_TRUE(WaitedFor([&] { return cut.load(); }));
    doomed.station->kill();  // already dead, unless it was killed before its pid was known
    const ProgramRun killed = doomed.station->finish(kLimit);
    EXPECT_EQ(killed.status, -1) << killed.err;
    EXPECT_THAT(killed.out, Not(HasSubstr(R"("step":"flash","state":"done")")));
    doomed.pc->processGone();

    // The server goes down while the other benches' boards soak (it starts when the read-back
    // is done), and the doomed station is
    // started again while it is down: it waits for the store, as do the boards that end.
    const std::vector<Bench*> others(onPostgres.begin(), onPostgres.end() - 1);
    ASSERT_TRUE(WaitedFor([&] { return anyShows(others, R"("step":"readback","state":"done")"); }));
    ASSERT_TRUE(TestPostgresServer().stop());
    startStation(doomed);
    ASSERT_TRUE(WaitedFor([&] { return anyShows({&doomed}, "waiting for the store"); }));
    // A machine so slow that the soaks ended before the server went has nothing to wait for.
    const auto othersEnded = [&] {
        return std::all_of(others.begin(), others.end(),
                           [](Bench* bench) { return bench->station->ended(); });
    };
    ASSERT_TRUE(WaitedFor(
        [&] { return anyShows(others, R"("step":"store","state":"waiting")") || othersEnded(); }));
    if (othersEnded()) std::printf("note: the soaks ended before the server went down\n");
    ASSERT_TRUE(TestPostgresServer().start());

    for (auto& bench : benches) {
        const ProgramRun run = bench->station->finish(kLimit);
        EXPECT_EQ(run.status, 0) << "bench " << bench->number << ":\n" << run.err << run.out;
        expectLastLines(*bench, run.out);
        // Nothing waits in its journal: --sync finds nothing to write.
        const ProgramRun sync =
            RunProgram(K350CTL_PROGRAM, {"station", "--sync", "--store", bench->store}, {},
                       bench->folder, std::chrono::seconds(60));
        EXPECT_EQ(sync.status, 0) << sync.err;
    }
    std::set<std::string> killedBoards;
    for (const RunRecord& run : runs(postgres)) {
        if (run.result == "unfinished") killedBoards.insert(run.dieId);
    }
    EXPECT_TRUE(killedBoards.count(doomed.dieIds.front()));
    for (const std::string& die : killedBoards) {
        EXPECT_NE(std::find(doomed.dieIds.begin(), doomed.dieIds.end(), die), doomed.dieIds.end());
    }
    expectLine(postgres, killedBoards);
    expectLine(sqlite, {});
}
