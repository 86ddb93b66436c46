// k350ctl serve as a process beside stations on simulated benches, against the PostgreSQL server
// the test started: curl follows the events as a station's board goes through its steps, headless
// chromium runs the live page's own script and shows a board that came while it was open, and a
// Prometheus server the test starts on 127.0.0.1 scrapes the metrics and answers a query with the
// store's counts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "config/ServiceCodes.h"
#include "store/LiveState.h"
#include "store/RunStore.h"
#include "tests/support/HttpProbe.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/StartedProgram.h"
#include "tests/support/TemporaryFolder.h"

using ::testing::HasSubstr;

namespace {

using namespace std::chrono_literals;

// Safety nets only: each is reached in seconds.
constexpr auto kLimit = std::chrono::seconds(120);

std::string Output(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    char chunk[4096];
    while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
    pclose(pipe);
    return text;
}

class ServeProcessesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestPostgresServer().available())
            GTEST_SKIP() << "PostgreSQL: " << TestPostgresServer().problem();
        static int databases = 0;
        store = TestPostgresServer().createDatabase("serveprocesses" + std::to_string(++databases));
        ASSERT_FALSE(store.empty());
        OpenRunStore(store);
        std::ofstream(folder.file("image.rom"), std::ios::binary) << std::string(3000, '\x5A');
        std::vector<std::string> arguments{"serve", "--store", store, "--listen", "127.0.0.1:0"};
        // The browser's page: a stream that ends soon lets its virtual time run on after it.
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        if (test.find("Chromium") != std::string::npos) {
            arguments.insert(arguments.end(), {"--stream-seconds", "3"});
        }
        serve = std::make_unique<StartedProgram>(
            K350CTL_SIM, arguments, std::map<std::string, std::string>{}, folder.path());
        ASSERT_TRUE(serve->waitForText("at http://127.0.0.1:", kLimit)) << serve->output();
        std::smatch found;
        const std::string said = serve->err();
        ASSERT_TRUE(std::regex_search(said, found, std::regex("127\\.0\\.0\\.1:([0-9]+)/")));
        base = "http://127.0.0.1:" + found[1].str();
    }
    void TearDown() override {
        if (!serve) return;
        serve->signal(SIGTERM);
        const ProgramRun ended = serve->finish(kLimit);
        EXPECT_EQ(ended.status, 0) << ended.err;
        EXPECT_THAT(ended.err, HasSubstr("stopped serving"));
    }

    std::unique_ptr<StartedProgram> station(int bench, const std::vector<std::string>& more,
                                            int boards) {
        std::vector<std::string> arguments{"station", "--image", folder.file("image.rom"),
                                           "--store", store,     "--json"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return std::make_unique<StartedProgram>(
            K350CTL_SIM, arguments,
            std::map<std::string, std::string>{{"K350_SIM_BOARDS", std::to_string(boards)},
                                               {"K350_SIM_BENCH", std::to_string(bench)},
                                               {"K350_STATION", "bench-" + std::to_string(bench)},
                                               {"K350_SERVICE_CODE", std::string(kServiceCode)}},
            folder.path());
    }

    TemporaryFolder folder{"k350-serve-processes"};
    std::string store, base;
    std::unique_ptr<StartedProgram> serve;
};

TEST_F(ServeProcessesTest, AStationsStepReachesTheEventsWithItsBoardsSerial) {
    const auto events = std::make_unique<StartedProgram>(
        "/usr/bin/curl", std::vector<std::string>{"-sN", base + "/events"},
        std::map<std::string, std::string>{}, folder.path());
    ASSERT_TRUE(events->waitForText("event: figures", kLimit)) << events->output();
    // The soak keeps the board in its step while the page is looked at.
    const auto bench = station(1, {"--soak", "600"}, 1);
    // The station prints a step's line when it is done; the soak begins with the flash's end.
    ASSERT_TRUE(bench->waitForText("\"step\":\"flash\",\"state\":\"done\"", kLimit))
        << bench->output();
    const auto stepSeen = std::chrono::steady_clock::now();
    std::smatch found;
    const std::string line = bench->out();
    ASSERT_TRUE(std::regex_search(line, found, std::regex("\"serial\":\"([0-9A-Z]{4})\"")));
    const std::string serial = found[1];
    ASSERT_TRUE(events->waitFor(
        [&](const std::string& out, const std::string&) {
            return out.find("\"serial\":\"" + serial + "\",\"step\":\"soak\"") != std::string::npos;
        },
        kLimit));
    const double latency =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stepSeen).count();
    std::printf("the soak's event reached curl %.0f ms after the flash's line\n", latency * 1e3);
    // The board's steps in their order, each event numbered after the one before.
    const std::string seen = events->out();
    // The port's steps as the events brought them: in the station's order (a step that lasted
    // less than a write may be passed over, never one brought back).
    const std::vector<std::string> order{"identify", "boot",     "flash", "verify",
                                         "config",   "readback", "soak",  "board"};
    std::size_t reached = 0;
    const std::regex steps(
        "\"port\":\"[^\"]+\",\"die_id\":\"[^\"]*\",\"serial\":\"[^\"]*\","
        "\"step\":\"([a-z]+)\"");
    for (std::sregex_iterator step(seen.begin(), seen.end(), steps), end; step != end; ++step) {
        const auto at = std::find(order.begin(), order.end(), (*step)[1].str());
        ASSERT_NE(at, order.end()) << (*step)[1];
        EXPECT_GE(std::size_t(at - order.begin()), reached) << seen;
        reached = std::size_t(at - order.begin());
    }
    EXPECT_EQ(order[reached], "soak");
    std::int64_t last = 0;
    const std::regex ids("\nid: ([0-9]+)\n");
    for (std::sregex_iterator id(seen.begin(), seen.end(), ids), end; id != end; ++id) {
        const std::int64_t number = std::stoll((*id)[1]);
        EXPECT_GT(number, last);
        last = number;
    }
    EXPECT_GT(last, 0);

    bench->signal(SIGINT);
    ASSERT_TRUE(bench->waitForText("finishing", kLimit));
    bench->signal(SIGINT);
    bench->finish(kLimit);
}

// The page is open in chromium and following the events when a board's step comes: the DOM it
// dumps shows the board's serial in the tile its own script built. The page's virtual time stands
// while its stream is open; the server ends the stream after --stream-seconds, and the page's
// second of virtual time runs after it.
TEST_F(ServeProcessesTest, TheLivePageOpenInChromiumShowsABoardThatCameAfterIt) {
    const std::string chromium = "/usr/bin/chromium";
    if (!std::filesystem::exists(chromium)) GTEST_SKIP() << "chromium is not installed";
    const std::uint16_t port = std::uint16_t(std::stoi(base.substr(base.rfind(':') + 1)));
    bool shown = false;
    std::string dom;
    // A browser that ended before its page's stream was seen is given another try.
    for (int attempt = 1; attempt <= 3 && !shown; ++attempt) {
        const std::string profile = folder.file("chromium-" + std::to_string(attempt));
        std::filesystem::create_directory(profile);
        // Its own output is read to the end (helpers it starts keep its error stream open).
        std::string out;
        std::atomic<bool> ended{false};
        std::thread browser([&] {
            out = Output("timeout -s KILL 180 " + chromium +
                         " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                         " --disable-background-networking --disable-component-update"
                         " --disable-sync --user-data-dir='" +
                         profile + "' --virtual-time-budget=1000 --dump-dom '" + base +
                         "/' 2>/dev/null");
            ended = true;
        });
        while (!ended &&
               HttpGet(port, "/metrics").body.find("k350_serve_streams 1\n") == std::string::npos) {
            std::this_thread::sleep_for(50ms);  // the browser's own progress
        }
        const std::string serial = std::to_string(7000 + attempt);
        if (!ended) {
            auto db = OpenLiveConnection(store, StoreAccess::Write);
            PortLive row;
            row.bench = "bench-9";
            row.port = "1-1.4";
            row.dieId = "0x350A00000000770" + std::to_string(attempt);
            row.serial = serial;
            row.step = "flash";
            row.state = "progress";
            row.done = 40;
            row.total = 100;
            row.stepSince = row.updatedAt = UtcNow();
            LiveState(*db).writePort(row);
        }
        browser.join();
        dom = out;
        shown = dom.find("<div class=\"serial\">" + serial + "</div>") != std::string::npos;
    }
    EXPECT_TRUE(shown) << dom;
}

TEST_F(ServeProcessesTest, PrometheusScrapesTheMetricsAndItsQueryGivesTheStoresCounts) {
    if (!std::filesystem::exists("/usr/bin/prometheus"))
        GTEST_SKIP() << "prometheus is not installed";
    for (int bench = 1; bench <= 2; ++bench) {
        EXPECT_EQ(station(bench, {"--boards", "3"}, 3)->finish(kLimit).status, 0);
    }
    const auto runs = OpenRunStore(store, StoreAccess::Read)->history({});
    ASSERT_EQ(runs.size(), 6u);
    const std::string target = base.substr(7);
    std::ofstream(folder.file("prometheus.yml"))
        << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
        << "scrape_configs:\n  - job_name: k350\n    static_configs:\n      - targets: ['" << target
        << "']\n";
    const std::string web = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    StartedProgram prometheus(
        "/usr/bin/prometheus",
        {"--config.file=" + folder.file("prometheus.yml"),
         "--storage.tsdb.path=" + folder.file("tsdb"), "--web.listen-address=" + web},
        {}, folder.path());
    const std::string query =
        "curl -s 'http://" + web +
        "/api/v1/query?query=sum(k350_runs_total%7Bresult%3D%22passed%22%7D)'";
    std::string answer;
    const auto end = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < end && !prometheus.ended()) {
        answer = Output(query);
        if (answer.find("\"result\":[{") != std::string::npos) break;
        std::this_thread::sleep_for(200ms);  // Prometheus's own scrape interval runs in real time
    }
    EXPECT_THAT(answer, HasSubstr(",\"6\"]")) << prometheus.output();
    const std::string up = Output("curl -s 'http://" + web + "/api/v1/query?query=k350_store_up'");
    EXPECT_THAT(up, HasSubstr(",\"1\"]"));
    prometheus.signal(SIGTERM);
    prometheus.finish(kLimit);
}

}  // namespace
