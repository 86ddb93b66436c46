// k350ctl serve as a process beside stations on simulated benches, against the PostgreSQL server
// the test started: curl follows the events as a station's board goes through its steps, headless
// chromium runs the live page's own script and shows the board's serial, and a Prometheus server
// the test starts on 127.0.0.1 scrapes the metrics and answers a query with the store's counts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "config/ServiceCodes.h"
#include "store/RunStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/StartedProgram.h"
#include "tests/support/TemporaryFolder.h"

using ::testing::HasSubstr;

namespace {

using namespace std::chrono_literals;

// Safety nets only: each is reached in seconds.
constexpr auto kLimit = std::chrono::seconds(120);

PostgresServer& Server() {
    static PostgresServer server;
    return server;
}

// A port nobody listens on now, for a program that cannot be given port 0.
std::uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

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
        if (!Server().available()) GTEST_SKIP() << "PostgreSQL: " << Server().problem();
        static int databases = 0;
        store = Server().createDatabase("serveprocesses" + std::to_string(++databases));
        ASSERT_FALSE(store.empty());
        OpenRunStore(store);
        std::ofstream(folder.file("image.rom"), std::ios::binary) << std::string(3000, '\x5A');
        serve = std::make_unique<StartedProgram>(
            K350CTL_SIM,
            std::vector<std::string>{"serve", "--store", store, "--listen", "127.0.0.1:0"},
            std::map<std::string, std::string>{}, folder.path());
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

TEST_F(ServeProcessesTest, ABoardsSerialReachesTheEventsAndTheLivePagesOwnScriptShowsIt) {
    const auto events = std::make_unique<StartedProgram>(
        "/usr/bin/curl", std::vector<std::string>{"-sN", base + "/events"},
        std::map<std::string, std::string>{}, folder.path());
    ASSERT_TRUE(events->waitForText("event: figures", kLimit)) << events->output();
    // The soak keeps the board in its step while the page is looked at.
    const auto bench = station(1, {"--soak", "600"}, 1);
    ASSERT_TRUE(bench->waitForText("\"step\":\"soak\"", kLimit)) << bench->output();
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
    std::printf("the soak's event reached curl %.0f ms after the station's line\n", latency * 1e3);

    const std::string chromium = "/usr/bin/chromium";
    if (!std::filesystem::exists(chromium)) GTEST_SKIP() << "chromium is not installed";
    const std::string profile = folder.file("chromium-profile");
    std::filesystem::create_directory(profile);
    // One second of the page's own time: its script builds the tiles and follows the events.
    const std::string dom =
        Output("timeout -s KILL 180 " + chromium +
               " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
               " --disable-background-networking --disable-component-update --disable-sync"
               " --user-data-dir='" +
               profile + "' --virtual-time-budget=1000 --dump-dom '" + base + "/' 2>/dev/null");
    EXPECT_THAT(dom, HasSubstr("<div class=\"serial\">" + serial + "</div>"));
    EXPECT_THAT(dom, HasSubstr("data-bench=\"bench-1\""));
    EXPECT_THAT(dom, HasSubstr("soak"));
    bench->signal(SIGINT);
    bench->signal(SIGINT);
    bench->finish(kLimit);
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
    const std::string web = "127.0.0.1:" + std::to_string(FreePort());
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
