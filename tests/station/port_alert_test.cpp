// A port going bad: the rule, the station's watch fed by a real station run on simulated boards
// (one port's flash transfers fail, the other port's board passes), and what the operator sees.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "config/RecordRules.h"
#include "config/ServiceCodes.h"
#include "station/PortWatch.h"
#include "station/Station.h"
#include "station/StationRecipe.h"
#include "station/StationView.h"
#include "store/ReportQueries.h"
#include "store/SqlRunStore.h"
#include "tests/support/CliFixture.h"
#include "tests/support/LineStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/RecipeText.h"

namespace {

using ::testing::HasSubstr;

std::deque<PortVerdict> Verdicts(const std::string& newestFirst) {
    std::deque<PortVerdict> verdicts;
    for (char c : newestFirst) verdicts.push_back({c == 'P', c == 'P' ? "" : std::string(1, c)});
    return verdicts;
}

TEST(PortAlertRule, APortFailingWhileAnotherPassesIsSuspectAndOnlyThen) {
    const AlertRule rule;  // 3 of the last 5
    // F: failed at step "F", V: at step "V"; newest first.
    auto suspects =
        SuspectPorts({{"1-1.1", Verdicts("PPPPP")}, {"1-1.2", Verdicts("FFVPP")}}, rule);
    ASSERT_EQ(suspects.size(), 1u);
    EXPECT_EQ(suspects[0].port, "1-1.2");
    EXPECT_EQ(suspects[0].step, "F");
    EXPECT_EQ(suspects[0].failed, 3);
    EXPECT_EQ(suspects[0].of, 5);
    // Only the last five count; two failures are not enough.
    EXPECT_TRUE(SuspectPorts({{"a", Verdicts("PP")}, {"b", Verdicts("PPPFFFFF")}}, rule).empty());
    EXPECT_TRUE(SuspectPorts({{"a", Verdicts("PP")}, {"b", Verdicts("FPFPP")}}, rule).empty());
    // Every port failing, or one port alone: not one port's fault, or nothing to compare with.
    EXPECT_TRUE(SuspectPorts({{"a", Verdicts("FFF")}, {"b", Verdicts("FFFP")}}, rule).empty());
    EXPECT_TRUE(SuspectPorts({{"a", Verdicts("FFFFF")}}, rule).empty());
    // A neighbour that has not passed yet proves nothing either.
    EXPECT_TRUE(SuspectPorts({{"a", Verdicts("")}, {"b", Verdicts("FFF")}}, rule).empty());
    // The rule as given; 0 failures turns it off.
    EXPECT_EQ(SuspectPorts({{"a", Verdicts("P")}, {"b", Verdicts("VF")}}, {2, 2}).size(), 1u);
    EXPECT_TRUE(SuspectPorts({{"a", Verdicts("P")}, {"b", Verdicts("FFFFF")}}, {0, 5}).empty());
    // Of steps failed equally often, the latest.
    EXPECT_EQ(SuspectPorts({{"a", Verdicts("P")}, {"b", Verdicts("VFVF")}}, rule).at(0).step, "V");
    EXPECT_EQ(AlertMessage(suspects[0]),
              "port 1-1.2: 3 of its last 5 boards failed (at F) while the other ports pass: "
              "check the port, its cable, hub or fixture; the boards are not to blame");
}

TEST(PortAlertWatch, RaisesOnceWhenAPortTurnsSuspectAndAgainAfterItRecovered) {
    PortWatch watch(AlertRule{2, 3});
    const auto board = [&](const std::string& port, bool passed,
                           const std::string& step = "flash") {
        if (!passed) watch.record({port, "0x01", "0001", step, "failed", 0, 0, "Error: -110"});
        return watch.record(
            {port, "0x01", "0001", "board", passed ? "passed" : "failed", 0, 0, {}});
    };
    EXPECT_TRUE(board("A", true).empty());
    EXPECT_TRUE(board("B", false).empty());
    const auto raised = board("B", false, "verify");
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].port, "B");
    EXPECT_EQ(raised[0].step, "verify");
    EXPECT_TRUE(board("B", false).empty());  // still suspect: said once
    EXPECT_TRUE(board("B", true).empty());   // 2 of 3 still
    EXPECT_TRUE(board("B", true).empty());   // recovered
    EXPECT_TRUE(board("B", false).empty());
    EXPECT_EQ(board("B", false).size(), 1u);
    // Skipped boards and the steps' progress are no verdicts.
    EXPECT_TRUE(watch.record({"A", "", "", "board", "skipped", 0, 0, {}}).empty());
    EXPECT_TRUE(watch.record({"A", "", "", "flash", "progress", 1, 2, {}}).empty());
}

TEST(PortAlertView, TheTableShowsTheAlertUntilABoardPassesAndJsonHasALineOfItsOwn) {
    std::vector<std::string> blocks;
    StationView table([&](const std::string& block) { blocks.push_back(block); }, true);
    table.show({"1-1.3", "0x01", "0001", "board", "failed", 0, 0, "Error: -110"});
    table.showAlert({"1-1.3", "flash", 3, 5});
    EXPECT_NE(blocks.back().find("1-1.3 !"), std::string::npos);
    EXPECT_NE(blocks.back().find("ALERT port 1-1.3: 3 of its last 5 boards failed (at flash)"),
              std::string::npos);
    table.show({"1-1.3", "0x02", "0002", "board", "passed", 0, 0, {}});
    EXPECT_EQ(blocks.back().find("ALERT"), std::string::npos);

    std::vector<std::string> lines;
    StationView json([&](const std::string& line) { lines.push_back(line); }, false);
    json.showAlert({"1-1.3", "flash", 3, 5});
    ASSERT_EQ(lines.size(), 1u);
    const auto object = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(object["port"], "1-1.3");
    EXPECT_EQ(object["alert"], "suspect port");
    EXPECT_EQ(object["step"], "flash");
    EXPECT_EQ(object["failed"], 3);
    EXPECT_EQ(object["of"], 5);
    EXPECT_NE(object["message"].get<std::string>().find("cable, hub or fixture"),
              std::string::npos);
}

TEST(PortAlertRecipe, TheRecipeSetsTheRuleAndRefusesNonsense) {
    const TemporaryFolder folder("k350-alert");
    const auto recipe = [&](const std::string& text) { return LoadedRecipe(folder, text); };
    EXPECT_EQ(recipe("").alert.failures, 3);
    EXPECT_EQ(recipe("").alert.of, 5);
    const StationSettings given = recipe("[alert]\nfailures = 2\nof = 4\n");
    EXPECT_EQ(given.alert.failures, 2);
    EXPECT_EQ(given.alert.of, 4);
    EXPECT_THROW(recipe("[alert]\nof = 0\n"), RecipeError);
    EXPECT_THROW(recipe("[alert]\nfailure = 2\n"), RecipeError);  // misspelt
    EXPECT_THROW(recipe("[alert]\nfailures = -1\n"), RecipeError);
}

class PortAlertStation : public CliFixture {};

// One port's flash transfers time out, as with a worn cable; the board at the other port passes.
// The operator replugs the failing board each time it ended (until the station takes it again):
// after its third failure the port is flagged, the other port having passed.
TEST_F(PortAlertStation, AStationRunFlagsThePortWhoseBoardsKeepFailingAtTheFlash) {
    const auto boards = plugBoards(2);
    const std::string badDie = RecordRules::DeviceIdText(dieIdFor(1).data());
    k350sim::setReplyHook(
        [bad = boards[0]](k350sim::DeviceId id, const k350sim::Bytes& request, k350sim::Bytes&) {
            const bool program = request.size() > 8 && request[0] == 2 && request[8] == 0x02;
            return id == bad && program ? -110 : 0;
        });
    StationJob job;
    job.image = std::make_shared<const std::vector<std::uint8_t>>(2000, 0x5A);
    job.recipe = "alert test";
    job.station = "bench-1";
    job.store = tempPath("line.sqlite");
    PortWatch watch(job.alert);
    std::vector<PortAlert> alerts;
    std::atomic<int> failures{0}, started{0};
    std::atomic<bool> otherPassed{false};
    std::string badPort;
    std::mutex mutex;
    Station station(job, clock, [&](const StationEvent& event) {
        std::lock_guard lock(mutex);
        if (event.dieId == badDie && event.step == "identify") ++started;
        if (event.dieId != badDie && event.step == "board") otherPassed = event.state == "passed";
        if (event.dieId == badDie && event.step == "board" && event.state == "failed") {
            badPort = event.port;
            ++failures;
        }
        for (const PortAlert& alert : watch.record(event)) alerts.push_back(alert);
    });
    int scans = 0;
    bool plugged = true;
    station.run(
        [&] {
            // A safety net: it takes a few hundred scans.
            if (++scans > 100000) return StationStop::Finish;
            {
                std::lock_guard lock(mutex);
                if (!alerts.empty()) return StationStop::Finish;
            }
            // Once the other port has shown that it passes, so the count is the same every time.
            if (otherPassed && failures == started && failures > 0) {
                plugged ? k350sim::unplug(boards[0]) : k350sim::replug(boards[0]);
                plugged = !plugged;
            }
            return StationStop::None;
        },
        0, 10);
    k350sim::setReplyHook({});
    ASSERT_EQ(alerts.size(), 1u) << failures << " failures";
    EXPECT_EQ(alerts[0].port, badPort);
    EXPECT_EQ(alerts[0].step, "flash");
    EXPECT_EQ(alerts[0].failed, 3);
    EXPECT_EQ(failures, 3);
}

// A store of either kind for the test: an SQLite file in the fixture's folder, or a database of
// the test's own PostgreSQL server.
class PortAlertMemory : public CliFixture, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        std::string why;
        store = FreshStoreLocation(GetParam(), tempPath("line.sqlite"), why);
        if (store.empty()) GTEST_SKIP() << why;
    }

    std::vector<std::string> alertLines(const std::string& out) const {
        std::vector<std::string> alerts;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.find(R"("alert":"suspect port")") != std::string::npos) alerts.push_back(line);
        }
        return alerts;
    }

    std::string store;
};

// bench-1's port 1-1.2 passed once, then failed at verify and at flash; interrupted and unfinished
// runs after those are no verdicts, and another bench's port of the same name is another port.
TEST_P(PortAlertMemory, TheStoreGivesEachPortsLastVerdictsOfOneStation) {
    using namespace line_store;
    {
        const auto writer = OpenRunStore(store);
        const std::vector<StepTime> flash{{"flash", 30}}, verify{{"flash", 30}, {"verify", 10}};
        int at = 8 * 3600, board = 0;
        const auto record = [&](int station, int port, const std::vector<StepTime>& steps,
                                const char* result) {
            Record(*writer, Board(station, port, DieId(station, port, ++board)), at += 60, steps,
                   result);
        };
        for (int i = 0; i < 4; ++i) record(1, 1, flash, RunResult::Passed);
        record(1, 2, flash, RunResult::Passed);
        record(1, 2, verify, RunResult::Failed);
        record(1, 2, flash, RunResult::Failed);
        record(1, 2, flash, RunResult::Interrupted);
        RunRecord unfinished = Board(1, 2, DieId(1, 2, ++board));
        unfinished.startedAt = TimeText(at += 60);
        writer->beginRun(unfinished);
        for (int i = 0; i < 3; ++i) record(2, 2, flash, RunResult::Passed);
    }
    const auto reader = OpenSqlRunStore(store, StoreAccess::Read);
    const RecentVerdicts recent = StationVerdicts(reader->connection(), "bench-1", 3);
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent.at("1-1.1").size(), 3u);
    const std::deque<PortVerdict>& failing = recent.at("1-1.2");
    ASSERT_EQ(failing.size(), 3u);  // newest first
    EXPECT_FALSE(failing[0].passed);
    EXPECT_EQ(failing[0].failedStep, "flash");
    EXPECT_EQ(failing[1].failedStep, "verify");
    EXPECT_TRUE(failing[2].passed);

    // 3 of the last 5 with two failures remembered: the next failure raises the alert, once.
    PortWatch watch(AlertRule{});
    EXPECT_TRUE(watch.remember(RememberedVerdicts(store, "bench-1", AlertRule{})).empty());
    watch.record({"1-1.2", "0x09", "0009", "flash", "failed", 0, 0, "Error: -110"});
    const auto raised = watch.record({"1-1.2", "0x09", "0009", "board", "failed", 0, 0, {}});
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].port, "1-1.2");
    EXPECT_EQ(raised[0].step, "flash");
    EXPECT_EQ(raised[0].failed, 3);
    EXPECT_EQ(raised[0].of, 4);
    // A rule of 2 of 3 finds the port suspect already: said at once, then not again.
    PortWatch stricter(AlertRule{2, 3});
    EXPECT_EQ(stricter.remember(RememberedVerdicts(store, "bench-1", {2, 3})).size(), 1u);
    stricter.record({"1-1.2", "0x09", "0009", "flash", "failed", 0, 0, "Error: -110"});
    EXPECT_TRUE(stricter.record({"1-1.2", "0x09", "0009", "board", "failed", 0, 0, {}}).empty());
    // A store that is away says so; the station then counts from its start.
    if (GetParam() == "postgresql") {
        ASSERT_TRUE(TestPostgresServer().stop());
        EXPECT_THROW(RememberedVerdicts(store, "bench-1", AlertRule{}), StoreError);
        ASSERT_TRUE(TestPostgresServer().start());
    } else {
        EXPECT_THROW(RememberedVerdicts(tempPath("none.sqlite"), "bench-1", AlertRule{}),
                     StoreError);
    }
    // The rule turned off reads nothing.
    EXPECT_TRUE(RememberedVerdicts("/nonexistent/line.sqlite", "bench-1", {0, 5}).empty());
}

// Three batches in a row, as a line runs them (or systemd restarting the station): the same
// port fails once in each, and the third raises the alert as one unbroken run would. The fourth
// start names the port at once.
TEST_P(PortAlertMemory, ThreeBatchesInARowRaiseTheAlertOfAPortThatFailsInEach) {
    const auto boards = plugBoards(4);
    k350sim::setReplyHook(
        [bad = boards[0]](k350sim::DeviceId id, const k350sim::Bytes& request, k350sim::Bytes&) {
            const bool program = request.size() > 8 && request[0] == 2 && request[8] == 0x02;
            return id == bad && program ? -110 : 0;
        });
    std::ofstream(tempPath("image.rom"), std::ios::binary) << std::string(2000, '\x5A');
    variables["K350_STATION"] = "bench-1";
    const auto batch = [&] {
        return run({"station", "--image", tempPath("image.rom"), "--store", store, "--boards", "4",
                    "--code", std::string(kFullServiceCode)});
    };
    for (int i = 1; i <= 2; ++i) {
        const CliRun station = batch();
        EXPECT_THAT(station.err, HasSubstr("1 failed")) << "batch " << i;
        EXPECT_TRUE(alertLines(station.out).empty()) << "batch " << i;
    }
    const CliRun third = batch();
    k350sim::setReplyHook({});
    EXPECT_THAT(third.err, HasSubstr("1 failed"));
    const auto alerts = alertLines(third.out);
    ASSERT_EQ(alerts.size(), 1u) << third.out;
    const auto alert = nlohmann::json::parse(alerts[0]);
    EXPECT_EQ(alert["step"], "flash");
    EXPECT_EQ(alert["failed"], 3);
    EXPECT_EQ(alert["of"], 3);
    std::string badPort;
    for (const RunRecord& record : OpenRunStore(store, StoreAccess::Read)->history({})) {
        if (record.result == RunResult::Failed) badPort = record.port;
    }
    EXPECT_EQ(alert["port"], badPort);
    // The port's board now passes: the fourth start names the port, its pass clears it.
    const CliRun fourth = batch();
    ASSERT_EQ(alertLines(fourth.out).size(), 1u) << fourth.out;
    EXPECT_LT(fourth.out.find(R"("alert":"suspect port")"), fourth.out.find(R"("step":"board")"));
}

INSTANTIATE_TEST_SUITE_P(Stores, PortAlertMemory, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

}  // namespace
