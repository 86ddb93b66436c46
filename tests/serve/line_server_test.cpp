// The server in this process on 127.0.0.1, over an SQLite file and a real PostgreSQL server: the
// events in order and resumed after a restart, a store that restarts under it, the Host check,
// requests it refuses while a stream goes on, a page that never reads, two hundred at once, the
// metrics and the report as the store counts them, a role that may only SELECT, and no password
// in anything it says.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "report/LineReportRead.h"
#include "serve/LineServer.h"
#include "store/LiveState.h"
#include "store/Measurement.h"
#include "store/PostgresConnection.h"
#include "store/SqlRunStore.h"
#include "tests/support/HttpProbe.h"
#include "tests/support/LineSimulation.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TemporaryFolder.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using namespace std::chrono_literals;

class LineServerTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string why;
        location = FreshStoreLocation(GetParam(), folder.file("line.sqlite"), why);
        if (location.empty()) GTEST_SKIP() << why;
        OpenRunStore(location);
    }
    void TearDown() override { server.reset(); }

    void start(std::size_t streamLimit = 1 << 20, std::vector<std::string> allowHosts = {}) {
        ServeSettings settings;
        settings.store = location;
        settings.listen = *ParseListenAddress("127.0.0.1:0");
        settings.allowHosts = std::move(allowHosts);
        settings.streamLimitBytes = streamLimit;
        settings.pace.waitMs = 100;
        settings.pace.retryMs = 100;
        server = std::make_unique<LineServer>(settings, [this](const std::string& line) {
            std::lock_guard lock(logMutex);
            log += line + "\n";
        });
    }

    std::string logged() {
        std::lock_guard lock(logMutex);
        return log;
    }

    void writePort(const std::string& port, const std::string& serial, const std::string& step,
                   const std::string& error = {}) {
        if (!writer) writer = OpenLiveConnection(location, StoreAccess::Write);
        PortLive row;
        row.bench = "bench-1";
        row.port = port;
        row.dieId = "0x350A00000000" + serial;
        row.serial = serial;
        row.step = step;
        row.state = "started";
        row.stepSince = row.updatedAt = UtcNow();
        row.lastError = error;
        LiveState(*writer).writePort(row);
    }

    std::uint16_t port() const { return server->port(); }

    TemporaryFolder folder{"k350-serve"};
    std::string location;
    std::unique_ptr<SqlConnection> writer;
    std::unique_ptr<LineServer> server;
    std::mutex logMutex;
    std::string log;
};

std::int64_t IdOf(const StreamEvent& event) {
    return event.id.empty() ? 0 : std::stoll(event.id);
}

TEST_P(LineServerTest, EventsComeInOrderAndResumeAfterARestartWithTheLastIdSeen) {
    writePort("1-1.1", "0001", "identify");
    start();
    EventStream stream(port());
    ASSERT_TRUE(stream.nextWith("port", "\"0001\""));
    writePort("1-1.2", "0002", "flash");
    writePort("1-1.1", "0001", "verify");
    const auto flash = stream.nextWith("port", "\"0002\"");
    const auto verify = stream.nextWith("port", "\"verify\"");
    ASSERT_TRUE(flash && verify);
    EXPECT_LT(IdOf(*flash), IdOf(*verify));

    // The server goes; two changes come meanwhile; a new server gives a page that comes back
    // with its last id those two, in their order, and nothing it saw.
    server.reset();
    writePort("1-1.2", "0002", "verify");
    writePort("1-1.3", "0003", "identify");
    start();
    EventStream again(port(), verify->id);
    std::vector<StreamEvent> rows;
    while (auto event = again.next(10s)) {
        if (event->name == "figures") break;  // after the rows and the banner
        if (event->name == "port") rows.push_back(*event);
    }
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_THAT(rows[0].data, HasSubstr("\"1-1.2\""));
    EXPECT_THAT(rows[1].data, HasSubstr("\"0003\""));
    EXPECT_GT(IdOf(rows[0]), IdOf(*verify));
    EXPECT_LT(IdOf(rows[0]), IdOf(rows[1]));
}

TEST_P(LineServerTest, AHostThatIsNotOursIsRefused) {
    start(1 << 20, {"line2.example"});
    EXPECT_EQ(HttpGet(port(), "/api/live").status, 200);
    EXPECT_EQ(HttpGet(port(), "/api/live", "localhost:" + std::to_string(port())).status, 200);
    EXPECT_EQ(HttpGet(port(), "/api/live", "LINE2.example.:443").status, 200);
    // A page of another site whose name was pointed at this machine.
    EXPECT_EQ(HttpGet(port(), "/api/live", "attacker.example:" + std::to_string(port())).status,
              421);
    EXPECT_EQ(HttpGet(port(), "/events", "line2.example.attacker.example").status, 421);
    EXPECT_THAT(logged(), HasSubstr("\"attacker.example:"));
}

TEST_P(LineServerTest, RequestsTooLargeOrMalformedAreRefusedAndAStreamGoesOn) {
    start();
    EventStream stream(port());
    ASSERT_TRUE(stream.nextWith("figures", ""));
    const std::string host = "Host: 127.0.0.1\r\n";
    // Not HTTP at all: the connection is closed, or refused with 400.
    EXPECT_THAT(ParseAnswer(RawExchange(port(), "NONSENSE\r\n\r\n")).status,
                ::testing::AnyOf(0, 400));
    EXPECT_THAT(ParseAnswer(RawExchange(port(), "GET / HTTP/1.1\r\n\r\n")).status,  // no Host
                ::testing::AnyOf(400, 421));
    EXPECT_GE(ParseAnswer(RawExchange(port(), "GET / HTTP/1.1\r\n" + host + "X-Big: " +
                                                  std::string(64 * 1024, 'x') + "\r\n\r\n"))
                  .status,
              400);
    EXPECT_EQ(ParseAnswer(RawExchange(port(), "POST /api/live HTTP/1.1\r\n" + host +
                                                  "Content-Length: 2\r\n\r\n{}"))
                  .status,
              405);
    EXPECT_EQ(ParseAnswer(RawExchange(port(), "GET /api/live HTTP/1.1\r\n" + host +
                                                  "Content-Length: 5\r\n\r\nhello"))
                  .status,
              413);
    EXPECT_EQ(HttpGet(port(), "/nothing-here").status, 404);
    writePort("1-1.4", "0044", "soak");
    EXPECT_TRUE(stream.nextWith("port", "\"0044\""));
    EXPECT_FALSE(logged().empty());
}

// A page that never reads: its events pile up to the limit and it is dropped; the page beside
// it gets every event meanwhile.
TEST_P(LineServerTest, APageThatNeverReadsIsDroppedAndHoldsUpNoOther) {
    start(256 * 1024);
    const int stalled = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /events HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(send(stalled, request.data(), request.size(), 0), ssize_t(request.size()));
    EventStream reader(port());
    ASSERT_TRUE(reader.nextWith("figures", ""));
    // The stalled page's request is taken by the server's own threads.
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (server->streams() < 2 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(server->streams(), 2u);
    // Far more than the socket buffers and the limit hold.
    const std::string bulk(60 * 1024, 'e');
    for (int n = 0; n < 200 && server->streams() > 1; ++n) {
        writePort("1-1.1", "0001", "flash", bulk + std::to_string(n));
        ASSERT_TRUE(reader.nextWith("port", bulk + std::to_string(n) + "\"")) << n;
    }
    EXPECT_EQ(server->streams(), 1u);
    // The server's thread tells of the drop once the stream is gone: wait for its line.
    const auto told = std::chrono::steady_clock::now() + 60s;
    while (logged().find("did not read their events were dropped") == std::string::npos &&
           std::chrono::steady_clock::now() < told) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_THAT(logged(), HasSubstr("did not read their events were dropped"));
    close(stalled);
}

TEST_P(LineServerTest, TwoHundredPagesAtOnceEachGetTheEvent) {
    start();
    std::vector<std::unique_ptr<EventStream>> pages;
    for (int n = 0; n < 200; ++n) pages.push_back(std::make_unique<EventStream>(port()));
    for (auto& page : pages) ASSERT_TRUE(page->nextWith("figures", ""));
    writePort("1-1.7", "0777", "config");
    for (auto& page : pages) EXPECT_TRUE(page->nextWith("port", "\"0777\""));
    EXPECT_EQ(server->streams(), 200u);
}

// The metrics count what the store holds, in a form Prometheus's own checker takes.
TEST_P(LineServerTest, TheMetricsCountTheStoresRunsAndPassPromtool) {
    LineShape shape;
    shape.runs = 400;
    const auto runs = SimulatedLine(shape);
    FillRuns(OpenSqlRunStore(location, StoreAccess::Write)->connection(), runs);
    writePort("1-1.2", "0002", "flash");
    start();
    const HttpAnswer answer = HttpGet(port(), "/metrics");
    ASSERT_EQ(answer.status, 200);
    EXPECT_THAT(answer.headers.at("content-type"), HasSubstr("version=0.0.4"));
    std::map<std::string, long> byResult;
    for (const RunRecord& run : runs) ++byResult[run.result];
    std::map<std::string, long> counted;
    std::istringstream lines(answer.body);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("k350_runs_total{")) continue;
        const auto result = line.find("result=\"") + 8;
        counted[line.substr(result, line.find('"', result) - result)] +=
            std::stol(line.substr(line.rfind(' ') + 1));
    }
    EXPECT_EQ(counted, byResult);
    EXPECT_THAT(answer.body, HasSubstr("k350_boards_in_progress{bench=\"bench-1\"} 1\n"));
    EXPECT_THAT(answer.body, HasSubstr("k350_store_up 1\n"));
    EXPECT_THAT(answer.body, HasSubstr("k350_board_seconds_bucket{bench=\"bench-3\",le=\"+Inf\"}"));
    const std::string file = folder.file("metrics.txt");
    std::ofstream(file) << answer.body;
    const std::string command = "promtool check metrics < " + file + " 2>&1";
    FILE* promtool = popen(command.c_str(), "r");
    ASSERT_NE(promtool, nullptr);
    std::string said;
    char chunk[4096];
    while (std::size_t n = fread(chunk, 1, sizeof chunk, promtool)) said.append(chunk, n);
    const int status = pclose(promtool);
    if (WEXITSTATUS(status) == 127) GTEST_SKIP() << "promtool is not installed";
    EXPECT_EQ(status, 0) << said;
    EXPECT_EQ(said, "");
}

// Today's alerts, read from the store's runs: a port whose measurement drifts beside a suspect
// port, in /api/live and on the page.
TEST_P(LineServerTest, TodaysDriftIsShownBesideTheSuspectPorts) {
    {
        auto store = OpenRunStore(location);
        const auto board = [&](const std::string& port, int number, const char* result) {
            RunRecord run;
            run.key = "bench-1-" + std::to_string(number);
            run.dieId = "0x350A0000000000" + std::to_string(10 + number);
            run.chipId = "0xC1";
            run.station = "bench-1";
            run.port = port;
            run.recipe = "k350a.toml";
            run.startedAt = run.finishedAt = UtcNow();
            run.result = result;
            if (std::string(result) == RunResult::Failed) run.failedStep = "flash";
            // Slower at each board: the verify's time rises past its control limits.
            run.measurements.push_back(
                Measured(MeasurementName::Verify, 2.0 + 0.1 * number, "s", {}));
            run.id = store->beginRun(run);
            store->finishRun(run);
        };
        for (int number = 0; number < 9; ++number) board("1-1.2", number, RunResult::Passed);
        for (int number = 20; number < 25; ++number) board("1-1.3", number, RunResult::Failed);
    }
    start();
    const HttpAnswer api = HttpGet(port(), "/api/live");
    ASSERT_EQ(api.status, 200);
    const auto alerts = nlohmann::json::parse(api.body).at("figures").at("alerts");
    std::map<std::string, nlohmann::json> byKind;
    for (const auto& alert : alerts) byKind[alert.at("kind")] = alert;
    ASSERT_EQ(byKind.count("drift"), 1u) << alerts.dump();
    ASSERT_EQ(byKind.count("suspect_port"), 1u) << alerts.dump();
    const auto& drift = byKind["drift"];
    EXPECT_EQ(drift.at("bench"), "bench-1");
    EXPECT_EQ(drift.at("port"), "1-1.2");
    EXPECT_EQ(drift.at("name"), MeasurementName::Verify);
    EXPECT_FALSE(drift.at("values").empty());
    EXPECT_THAT(drift.at("text").get<std::string>(),
                HasSubstr("port 1-1.2: verify.s drifts (" + drift.at("rule").get<std::string>()));
    EXPECT_EQ(byKind["suspect_port"].at("port"), "1-1.3");
    // The page carries them in its first state, and its script shows every alert it is given.
    const HttpAnswer page = HttpGet(port(), "/");
    EXPECT_THAT(page.body, HasSubstr("verify.s drifts ("));
}

// A store no station of this version has upgraded yet has no totals: its runs are counted one by
// one, to the same figures.
TEST_P(LineServerTest, TheMetricsOfAStoreBeforeItsTotalsCountItsRuns) {
    {
        auto store = OpenSqlRunStore(location, StoreAccess::Write);
        SqlConnection& db = store->connection();
        // Version 8: before the totals, and before the runs' origins after them.
        for (const char* table : {"k350_step_tally", "k350_run_tally", "k350_reference_boards"}) {
            db.run(std::string("DROP TABLE ") + table);
        }
        for (const char* column : {"program_version", "operator", "lot", "recipe_sha256"}) {
            db.run(std::string("ALTER TABLE k350_runs DROP COLUMN ") + column);
        }
        db.run("UPDATE k350_schema SET version = 8");
        LineShape shape;
        shape.runs = 300;
        FillRunsWithoutTotals(db, SimulatedLine(shape));
    }
    start();
    const std::string counted = HttpGet(port(), "/metrics").body;
    {
        OpenRunStore(location);  // upgraded: the totals made from the runs it has
    }
    server.reset();
    start();
    const std::string kept = HttpGet(port(), "/metrics").body;
    const auto figures = [](const std::string& text) {
        std::string lines;
        std::istringstream all(text);
        for (std::string line; std::getline(all, line);) {
            if (line.starts_with("k350_runs_total") || line.starts_with("k350_step_failures") ||
                line.starts_with("k350_board_seconds")) {
                lines += line + "\n";
            }
        }
        return lines;
    };
    EXPECT_THAT(figures(counted),
                HasSubstr("k350_board_seconds_bucket{bench=\"bench-1\",le=\"+Inf\"}"));
    EXPECT_EQ(figures(counted), figures(kept));
}

TEST_P(LineServerTest, TheReportIsTheReportsOwnForTheParametersGiven) {
    LineShape shape;
    shape.runs = 300;
    FillRuns(OpenSqlRunStore(location, StoreAccess::Write)->connection(), SimulatedLine(shape));
    start();
    const auto period = ParseReportPeriod("2026-12-09", "2026-12-09", 0);
    const std::string expected = RenderedLineReport(
        ReadLineReportAt(location, *period, {{}, {}, "bench-2", {}, {}}, AlertRule{}),
        ReportFormat::Json);
    const HttpAnswer json =
        HttpGet(port(), "/api/report?since=2026-12-09&until=2026-12-09&station=bench-2");
    ASSERT_EQ(json.status, 200);
    EXPECT_EQ(json.body, expected + "\n");
    const HttpAnswer page = HttpGet(port(), "/report?since=2026-12-09&until=2026-12-09");
    EXPECT_EQ(page.status, 200);
    EXPECT_THAT(page.body, HasSubstr("<svg"));
    EXPECT_EQ(HttpGet(port(), "/api/report?since=yesterday").status, 400);
}

TEST_P(LineServerTest, ThePageCarriesItsStateAndFetchesNothingFromElsewhere) {
    writePort("1-1.1", "0042", "flash");
    start();
    const HttpAnswer page = HttpGet(port(), "/");
    ASSERT_EQ(page.status, 200);
    EXPECT_THAT(page.body, HasSubstr("\"serial\":\"0042\""));
    EXPECT_THAT(page.headers.at("content-security-policy"), HasSubstr("default-src 'none'"));
    for (const char* outside : {"http://", "https://", "src=", "@import", "url("}) {
        EXPECT_THAT(page.body, Not(HasSubstr(outside))) << outside;
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, LineServerTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

// PostgreSQL alone: a server that restarts, and a role that may only SELECT.
class LineServerPostgresTest : public LineServerTest {};

TEST_P(LineServerPostgresTest, AStoreThatRestartsIsShownUnreachableThenFollowedAgain) {
    writePort("1-1.1", "0001", "flash");
    start();
    EventStream stream(port());
    ASSERT_TRUE(stream.nextWith("port", "\"0001\""));
    ASSERT_TRUE(TestPostgresServer().stop());
    const auto away = stream.nextWith("banner", kUnreachableText);
    ASSERT_TRUE(TestPostgresServer().start());
    writer.reset();
    writePort("1-1.1", "0001", "verify");
    EXPECT_TRUE(away);
    EXPECT_TRUE(stream.nextWith("banner", "\"text\":\"\""));
    EXPECT_TRUE(stream.nextWith("port", "\"verify\""));
    EXPECT_THAT(logged(), HasSubstr("the store is back"));
}

TEST_P(LineServerPostgresTest,
       ARoleThatMayOnlySelectServesEverything_AndItsPasswordIsShownNowhere) {
    LineShape shape;
    shape.runs = 100;
    FillRuns(OpenSqlRunStore(location, StoreAccess::Write)->connection(), SimulatedLine(shape));
    writePort("1-1.1", "0001", "flash");
    const std::string database = location.substr(14, location.find('?') - 14);
    PostgresConnection admin(location);
    admin.run("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " +
              std::string(PostgresServer::kPasswordRole));
    location = TestPostgresServer().passwordUrl(database) + "&password=s3cr%25t-pw";
    start();
    EXPECT_EQ(HttpGet(port(), "/api/live").status, 200);
    EXPECT_THAT(HttpGet(port(), "/api/live").body, HasSubstr("\"0001\"")) << logged();
    EXPECT_THAT(HttpGet(port(), "/metrics").body, HasSubstr("k350_store_up 1\n"));
    EXPECT_EQ(HttpGet(port(), "/api/report?since=2026-12-09&until=2026-12-09").status, 200);
    // Stopped under it, the server says so, in its log and to its pages.
    ASSERT_TRUE(TestPostgresServer().stop());
    EventStream stream(port());
    EXPECT_TRUE(stream.nextWith("banner", kUnreachableText));
    const std::string live = HttpGet(port(), "/api/live").body;
    const std::string report = HttpGet(port(), "/api/report").body;
    ASSERT_TRUE(TestPostgresServer().start());
    for (const std::string& text : {logged(), live, report}) {
        EXPECT_THAT(text, Not(HasSubstr("s3cr")));
    }
}

INSTANTIATE_TEST_SUITE_P(Store, LineServerPostgresTest, ::testing::Values("postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
