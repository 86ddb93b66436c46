// A port going bad: the rule, the station's watch fed by a real station run on simulated boards
// (one port's flash transfers fail, the other port's board passes), and what the operator sees.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "station/PortWatch.h"
#include "station/Station.h"
#include "station/StationRecipe.h"
#include "station/StationView.h"
#include "config/RecordRules.h"
#include "tests/support/CliFixture.h"
#include "tests/support/RecipeText.h"

namespace {

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

}  // namespace
