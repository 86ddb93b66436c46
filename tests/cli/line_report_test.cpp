// The line report over a store whose runs the test wrote: two benches of four ports, one port
// failing at the flash step, one bench slower than the other, in SQLite and in a PostgreSQL
// server the test starts. The figures are counted by the database; they are checked here.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "report/LineReport.h"
#include "report/LineReportPage.h"
#include "store/PostgresConnection.h"
#include "store/ReferenceBoards.h"
#include "store/RunStore.h"
#include "store/SqliteConnection.h"
#include "tests/support/CliFixture.h"
#include "tests/support/LineSimulation.h"
#include "tests/support/LineStore.h"
#include "tests/support/OlderStore.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SmallDisk.h"

namespace {

std::string Later(const std::string& time, int seconds) {
    std::tm utc{};
    std::sscanf(time.c_str(), "%d-%d-%dT%d:%d:%dZ", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                &utc.tm_hour, &utc.tm_min, &utc.tm_sec);
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return line_simulation::TimeText(timegm(&utc) + seconds);
}

// Three days of a small line whose boards come back: failed ones at another port, passed ones
// again the next day at another bench, an interrupted board that passes later, boards without a
// die ID, and one board's two runs in one second.
std::vector<RunRecord> ComingBackLine() {
    LineShape shape;
    shape.runs = 240;
    shape.days = 3;
    shape.benches = 2;
    shape.ports = 3;
    shape.firstDay = 20;
    std::vector<RunRecord> runs = SimulatedLine(shape);
    const std::size_t simulated = runs.size();
    for (std::size_t i = 0; i < simulated; i += 7) {
        if (runs[i].result != RunResult::Passed) continue;
        RunRecord again = runs[i];
        if (i % 2) {
            again.station = again.station == "bench-1" ? "bench-2" : "bench-1";
        } else {
            again.port = again.port == "1-1.1" ? "1-1.2" : "1-1.1";
        }
        again.startedAt = Later(again.startedAt, 86400 + 600);
        again.finishedAt = Later(again.finishedAt, 86400 + 600);
        if (i % 3 == 0) again.result = RunResult::Interrupted;
        runs.push_back(again);
    }
    RunRecord same = runs[simulated / 2];
    same.result = RunResult::Failed;
    same.failedStep = "flash";
    same.error = "Error: -110 (the board did not answer in time)";
    runs.push_back(same);
    for (int i = 0; i < 2; ++i) {
        RunRecord unusable = runs[simulated / 3];
        unusable.dieId.clear();
        unusable.chipId.clear();
        unusable.serial.clear();
        unusable.steps.clear();
        unusable.result = "unusable";
        unusable.error = "the board cannot be opened: Error: -13 (access denied)";
        runs.push_back(unusable);
    }
    return runs;
}

// A report's figures, without the filter that chose them.
nlohmann::json Figures(const LineReport& report) {
    nlohmann::json figures = nlohmann::json::parse(LineReportJson(report));
    figures.erase("recipe");
    return figures;
}

class LineReportTest : public CliFixture, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        setenv("TZ", "UTC", 1);  // the period's local times are the store's
        tzset();
        std::string why;
        location = FreshStoreLocation(GetParam(), tempPath("line.sqlite"), why);
        if (location.empty()) GTEST_SKIP() << why;
        WriteLineDay(*OpenRunStore(location));
    }

    LineReport report(ReportFilter filter = {}) { return reportOf(location, filter); }

    LineReport reportOf(const std::string& where, ReportFilter filter) const {
        if (filter.since.empty()) filter.since = "2026-12-09T00:00:00Z";
        if (filter.until.empty()) filter.until = "2026-12-10T00:00:00Z";
        const auto db = connect(where);
        ReportQueries queries(*db, filter);
        return ReadLineReport(queries, filter, AlertRule{});
    }

    static const GroupFigures& Find(const std::vector<GroupFigures>& groups,
                                    const std::string& station, const std::string& port = {}) {
        for (const GroupFigures& group : groups) {
            if (group.name == GroupName{station, port}) return group;
        }
        static const GroupFigures none;
        ADD_FAILURE() << "no group " << station << " " << port;
        return none;
    }

    static const StepFigures& Step(const GroupFigures& group, const std::string& name) {
        for (const StepFigures& step : group.steps) {
            if (step.step == name) return step;
        }
        static const StepFigures none;
        ADD_FAILURE() << "no step " << name;
        return none;
    }

    std::unique_ptr<SqlConnection> connect(const std::string& where) const {
        if (GetParam() == "postgresql") return std::make_unique<PostgresConnection>(where);
        return std::make_unique<SqliteConnection>(where);
    }

    std::string location;
};

TEST_P(LineReportTest, TheLineCountsBoardsResultsYieldsAndRetests) {
    const LineReport figures = report();
    const RunCounts& line = figures.line.counts;
    EXPECT_EQ(line.runs, 87);  // the runs of the day before and after are not counted
    EXPECT_EQ(line.boards, 82);
    EXPECT_EQ(line.passed, 79);
    EXPECT_EQ(line.failed, 6);
    EXPECT_EQ(line.unusable, 1);
    EXPECT_EQ(line.interrupted, 1);
    EXPECT_EQ(line.unfinished, 0);
    EXPECT_EQ(line.boardsPassed, 79);
    EXPECT_EQ(figures.line.retests(), 5);
    EXPECT_DOUBLE_EQ(*figures.line.firstPassYield(), 74.0 / 81);
    // The five boards of the failing port passed at their second run; the interrupted board
    // has no verdict.
    EXPECT_DOUBLE_EQ(*figures.line.secondPassYield(), 79.0 / 81);
    EXPECT_DOUBLE_EQ(*figures.line.lastPassYield(), 79.0 / 81);
    EXPECT_DOUBLE_EQ(*figures.line.yield(), 79.0 / 82);
    // 40 passed runs of 60 s on bench-1, 39 of 90 s on bench-2.
    EXPECT_DOUBLE_EQ(*figures.line.boardTime.median, 60);
    EXPECT_DOUBLE_EQ(*figures.line.boardTime.p95, 90);
    ASSERT_EQ(figures.line.hours.size(), 3u);
    EXPECT_EQ(figures.line.hours[0].hour, "2026-12-09T08");
    EXPECT_EQ(figures.line.hours[0].ended, 80);
    EXPECT_EQ(figures.line.hours[0].passed, 74);
    EXPECT_EQ(figures.line.hours[1].ended, 5);
    EXPECT_DOUBLE_EQ(*figures.line.perHour(), 86.0 / 3);
}

TEST_P(LineReportTest, StepsAndFailuresAreCountedMostFrequentFirst) {
    const LineReport figures = report();
    std::vector<std::string> order;
    for (const StepFigures& step : figures.line.steps) order.push_back(step.step);
    EXPECT_EQ(order, (std::vector<std::string>{"flash", "verify", "config", "readback", "soak"}));
    const StepFigures& flash = Step(figures.line, "flash");
    EXPECT_EQ(flash.runs, 85);
    EXPECT_EQ(flash.failed, 5);
    EXPECT_EQ(Step(figures.line, "readback").failed, 1);
    EXPECT_EQ(Step(figures.line, "soak").runs, 79);
    // The slower bench shows in each of its steps.
    EXPECT_DOUBLE_EQ(*Step(Find(figures.stations, "bench-1"), "flash").median, 30);
    EXPECT_DOUBLE_EQ(*Step(Find(figures.stations, "bench-2"), "flash").median, 45);

    const auto& failures = figures.line.failures;
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].step, "flash");
    EXPECT_EQ(failures[0].error, "Error: -110 (the board did not answer in time)");
    EXPECT_EQ(failures[0].count, 5);
    EXPECT_EQ(failures[1].count, 1);
    EXPECT_EQ(failures[2].count, 1);
}

TEST_P(LineReportTest, BenchesAndPortsHaveTheirOwnFiguresAndTheFailingPortIsSuspect) {
    const LineReport figures = report();
    ASSERT_EQ(figures.stations.size(), 2u);
    const GroupFigures& bench1 = Find(figures.stations, "bench-1");
    const GroupFigures& bench2 = Find(figures.stations, "bench-2");
    EXPECT_EQ(bench1.counts.runs, 45);
    EXPECT_EQ(bench1.retests(), 5);  // the boards of the bad port, passed at another
    EXPECT_DOUBLE_EQ(*bench1.boardTime.median, 60);
    EXPECT_DOUBLE_EQ(*bench2.boardTime.median, 90);
    EXPECT_DOUBLE_EQ(*bench2.firstPassYield(), 39.0 / 41);

    ASSERT_EQ(figures.ports.size(), 8u);
    const GroupFigures& bad = Find(figures.ports, "bench-1", "1-1.3");
    EXPECT_EQ(bad.counts.failed, 5);
    EXPECT_DOUBLE_EQ(*bad.firstPassYield(), 0.5);
    ASSERT_TRUE(bad.suspect.has_value());
    EXPECT_EQ(bad.suspect->step, "flash");
    EXPECT_EQ(bad.suspect->failed, 5);
    EXPECT_EQ(bad.suspect->of, 5);
    const GroupFigures& retestPort = Find(figures.ports, "bench-1", "1-1.2");
    EXPECT_EQ(retestPort.counts.runs, 15);
    EXPECT_EQ(retestPort.retests(), 0);  // each board's first run at this port
    for (const GroupFigures& port : figures.ports) {
        EXPECT_EQ(port.suspect.has_value(), &port == &bad) << port.name.station << port.name.port;
    }
}

TEST_P(LineReportTest, AStationPortOrRecipeNarrowsEveryFigure) {
    EXPECT_EQ(report({.station = "bench-2"}).line.counts.runs, 42);
    const LineReport port = report({.port = "1-1.3"});
    EXPECT_EQ(port.line.counts.runs, 20);  // the port of that name at both benches
    EXPECT_EQ(port.ports.size(), 2u);
    EXPECT_EQ(report({.station = "bench-1", .port = "1-1.3"}).line.counts.failed, 5);
    EXPECT_EQ(report({.recipe = "K-350B"}).line.counts.runs, 0);
    EXPECT_EQ(report({.since = "2026-12-09T09:00:00Z"}).line.counts.runs, 7);
    const LineReport empty =
        report({.since = "2027-01-01T00:00:00Z", .until = "2027-01-02T00:00:00Z"});
    EXPECT_EQ(empty.line.counts.runs, 0);
    EXPECT_FALSE(empty.line.firstPassYield().has_value());
    EXPECT_NE(LineReportText(empty).find("No runs"), std::string::npos);
    EXPECT_NE(LineReportPage(empty).find("No runs"), std::string::npos);
}

TEST_P(LineReportTest, TheCommandPrintsTextJsonCsvAndAPage) {
    const CliRun text =
        run({"report", "--since", "2026-12-09", "--until", "2026-12-09", "--store", location});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("2026-12-09 00:00 to 2026-12-10 00:00"), std::string::npos);
    EXPECT_NE(text.out.find("SUSPECT PORTS"), std::string::npos);
    EXPECT_NE(text.out.find("bench-1: port 1-1.3: 5 of its last 5 boards failed (at flash)"),
              std::string::npos)
        << text.out;

    const CliRun json =
        run({"report", "--since", "2026-12-09", "--json", "--store", location, "--alert-of", "4"});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto object = nlohmann::json::parse(json.out);
    EXPECT_EQ(object["since"], "2026-12-09T00:00:00Z");
    EXPECT_EQ(object["line"]["runs"], 88);  // and after: the run of the next day
    EXPECT_EQ(object["stations"].size(), 2u);
    EXPECT_EQ(object["ports"].size(), 8u);
    ASSERT_EQ(object["suspects"].size(), 1u);
    EXPECT_EQ(object["suspects"][0]["port"], "1-1.3");
    EXPECT_EQ(object["suspects"][0]["of"], 4);
    EXPECT_EQ(object["line"]["failures"][0]["step"], "flash");

    // The times history takes: an offset, and a time as the end, where the period stops.
    const CliRun offset = run({"report", "--since", "2026-12-09T12:00+03:00", "--until",
                               "2026-12-09 12:00Z", "--json", "--store", location});
    ASSERT_EQ(offset.status, 0) << offset.err;
    const auto bounded = nlohmann::json::parse(offset.out);
    EXPECT_EQ(bounded["since"], "2026-12-09T09:00:00Z");
    EXPECT_EQ(bounded["until"], "2026-12-09T12:00:00Z");

    const CliRun csv = run(
        {"report", "--since", "2026-12-09", "--until", "2026-12-09", "--csv", "--store", location});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1 + 1 + 2 + 8);
    EXPECT_NE(csv.out.find("\nport,bench-1,1-1.3,10,10,5,5,0,0,0,5,0.5000,0.5000,0.5000,0.5000,0,"),
              std::string::npos)
        << csv.out;

    const std::string page = tempPath("line.html");
    const CliRun html = run({"report", "--since", "2026-12-09", "--until", "2026-12-09", "--html",
                             page, "--store", location});
    ASSERT_EQ(html.status, 0) << html.err;
    EXPECT_TRUE(html.out.empty());
    std::ifstream file(page);
    const std::string content((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(content.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_GE(std::count(content.begin(), content.end(), '<'), 100);
    EXPECT_EQ(content.find("<script"), std::string::npos);
    EXPECT_EQ(content.find("http"), std::string::npos);  // nothing fetched from anywhere
    EXPECT_EQ(content.find("@import"), std::string::npos);
    EXPECT_NE(content.find("<svg"), std::string::npos);
    EXPECT_NE(content.find("Suspect ports"), std::string::npos);
    EXPECT_NE(content.find("&lt;0x0010&gt;"), std::string::npos);  // an error's text, escaped
}

// The report only reads: it answers while a station holds the store's write lock, neither
// waiting for it nor counting what is not committed, and a database that holds no store is
// refused as it is.
TEST_P(LineReportTest, TheCommandOnlyReadsAndAnswersWhileAStationWrites) {
    const std::vector<std::string> arguments{"report",     "--since", "2026-12-09", "--until",
                                             "2026-12-09", "--json",  "--store",    location};
    const CliRun before = run(arguments);
    ASSERT_EQ(before.status, 0) << before.err;
    const auto writer = connect(location);
    writer->beginExclusive();
    writer->run("UPDATE k350_runs SET result = 'passed'");
    const auto started = std::chrono::steady_clock::now();
    const CliRun during = run(arguments);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    writer->rollback();
    ASSERT_EQ(during.status, 0) << during.err;
    EXPECT_EQ(nlohmann::json::parse(during.out)["line"], nlohmann::json::parse(before.out)["line"]);

    std::string other;
    if (GetParam() == "sqlite") {
        other = tempPath("notes.sqlite");
        SqliteConnection notes(other);
        notes.run("CREATE TABLE notes (text TEXT)");
        notes.run("PRAGMA journal_mode = DELETE");
    } else {
        other = TestPostgresServer().createDatabase("notastore");
    }
    const auto content = [&] {
        if (GetParam() == "postgresql") {
            return std::to_string(connect(other)->hasTable("k350_schema"));
        }
        std::ostringstream bytes;
        bytes << std::ifstream(other, std::ios::binary).rdbuf();
        return bytes.str();
    };
    const std::string untouched = content();
    const CliRun refused = run({"report", "--store", other});
    EXPECT_EQ(refused.status, 4);
    EXPECT_NE(refused.err.find("not a k350 store"), std::string::npos) << refused.err;
    EXPECT_TRUE(refused.out.empty());
    EXPECT_EQ(content(), untouched);
    EXPECT_FALSE(std::filesystem::exists(other + "-wal"));
}

// Writes the runs as stations do, some through the journal (as a station records a run when the
// store is back), the others begun and then finished.
void WriteAsStations(RunStore& store, const std::vector<RunRecord>& runs) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
        RunRecord run = runs[i];
        if (i % 4 == 0) {
            run.key = NewRunKey(run.station);
            store.recordRun(run);
            continue;
        }
        RunRecord begun = run;
        begun.result = RunResult::Unfinished;
        begun.steps.clear();
        run.id = store.beginRun(begun);
        store.finishRun(run);
    }
}

// The store keeps each run's figures as it writes the run; the report counts boards from them,
// and from the runs themselves where a recipe narrows them. Both agree whatever order the runs
// were written in (the offline journal gives runs back late) and wherever the period starts.
TEST_P(LineReportTest, TheFiguresTheStoreKeepsAreThoseOfItsRunsInAnyOrder) {
    std::vector<RunRecord> runs = ComingBackLine();
    std::shuffle(runs.begin(), runs.end(), std::mt19937(350));
    WriteAsStations(*OpenRunStore(location), runs);
    // The same line where some boards ran another recipe in the period a minute before: runs the
    // recipe's report must not count as those boards' first.
    static int databases = 0;
    const std::string mixed =
        GetParam() == "sqlite"
            ? tempPath("mixed.sqlite")
            : TestPostgresServer().createDatabase("mixed" + std::to_string(++databases));
    std::vector<RunRecord> withOther = runs;
    for (std::size_t i = 0; i < runs.size(); i += 5) {
        RunRecord other = runs[i];
        other.recipe = "K-350B, line 3";
        other.startedAt = Later(other.startedAt, -60);
        if (!other.finishedAt.empty()) other.finishedAt = Later(other.finishedAt, -60);
        withOther.push_back(other);
    }
    WriteAsStations(*OpenRunStore(mixed), withOther);

    EXPECT_GT(report({.since = "2026-12-21T00:00:00Z", .until = "2026-12-24T00:00:00Z"})
                  .stations.at(0)
                  .retests(),
              0);
    const ReportFilter narrowed[] = {
        {}, {.station = "bench-1"}, {.station = "bench-2", .port = "1-1.2"}};
    for (ReportFilter filter : narrowed) {
        filter.since = "2026-12-21T00:00:00Z";
        filter.until = "2026-12-24T00:00:00Z";
        ReportFilter byRecipe = filter;
        byRecipe.recipe = "K-350A, line 2";  // every run's in the first store
        const LineReport figures = report(filter);
        SCOPED_TRACE(filter.station + " " + filter.port);
        EXPECT_GT(figures.line.counts.runs, 0);
        EXPECT_EQ(Figures(figures), Figures(report(byRecipe)));
        EXPECT_GT(reportOf(mixed, filter).line.counts.runs, figures.line.counts.runs);
        EXPECT_EQ(Figures(figures), Figures(reportOf(mixed, byRecipe)));
    }
}

// Boards of known histories at one port, the next day, with where they came from: the
// yields of each pass, the filters by origin, and the reference boards apart.
class OriginLine {
public:
    explicit OriginLine(RunStore& store) : store_(store) {
        board("0x0A", {RunResult::Failed, RunResult::Failed, RunResult::Passed});  // third time
        board("0x0B", {RunResult::Passed, RunResult::Failed});  // retested, and failed then
        board("0x0C", {RunResult::Failed, RunResult::Passed});  // second time
        board("0x0D", {RunResult::Passed});
        board("0x0E", {RunResult::Interrupted, RunResult::Passed});  // no verdict first
        board("0x60", {RunResult::Passed, RunResult::Passed});       // golden
        board("0x6B", {RunResult::Failed, RunResult::Failed});       // known-bad
        lot_ = "L-2";
        image_ = std::string(64, 'b');
        version_ = "0.9.0";
        board("0x0F", {RunResult::Failed, RunResult::Failed});
    }

private:
    void board(const std::string& die, const std::vector<const char*>& results) {
        RunRecord run = line_store::Board(1, 2, die);
        run.lot = lot_;
        run.imageSha256 = image_;
        run.programVersion = version_;
        run.operatorName = "Ivanova";
        // A reference board's time is far off the line's: it would show in the capability.
        const double identify = die.starts_with("0x6") ? 90 : 10;
        run.measurements = {Measured("identify.ms", identify, "ms", {{}, 100.0, {}, {}})};
        for (const char* result : results) {
            const bool failed = std::string(result) == RunResult::Failed;
            line_store::Record(store_, run, start_, {{"flash", 20}}, result,
                               failed ? "Error: -110" : "");
            start_ += 100;
        }
    }

    RunStore& store_;
    int start_ = 24 * 3600 + 3600;
    std::string lot_ = "L-1", image_ = std::string(64, 'a'), version_ = "1.0.0";
};

TEST_P(LineReportTest, EachPassHasItsYieldAndReferenceBoardsStandApart) {
    {
        auto store = OpenRunStore(location);
        OriginLine line(*store);
    }
    const auto db = connect(location);
    MarkReferenceBoard(*db, {"0x60", ReferenceKind::Golden, "fixture check", {}});
    MarkReferenceBoard(*db, {"0x6B", ReferenceKind::KnownBad, {}, {}});
    // After the day before's last run, at midnight.
    ReportFilter day{.since = "2026-12-10T01:00:00Z", .until = "2026-12-11T00:00:00Z"};
    // Read from the figures the store keeps, and from the runs themselves (a lot every run of
    // the first boards has).
    ReportFilter ofLot = day;
    ofLot.lot = "L-1";
    for (const ReportFilter& filter : {day, ofLot}) {
        SCOPED_TRACE(filter.lot);
        const LineReport figures = report(filter);
        const RunCounts& c = figures.line.counts;
        const std::int64_t boards = filter.lot.empty() ? 6 : 5;  // 0x0F is of lot L-2
        EXPECT_EQ(c.boards, boards);
        EXPECT_EQ(c.firstRunsJudged, boards - 1);
        EXPECT_EQ(c.firstRunsPassed, 2);      // B, D
        EXPECT_EQ(c.secondRunsPassed, 3);     // B, C, D
        EXPECT_EQ(c.lastRunsJudged, boards);  // E's second run has a verdict
        EXPECT_EQ(c.lastRunsPassed, 4);       // A, C, D, E
        EXPECT_DOUBLE_EQ(*figures.ports.at(0).lastPassYield(), 4.0 / double(boards));
        ASSERT_EQ(figures.referenceBoards.size(), 2u);
        EXPECT_EQ(figures.referenceBoards[0].dieId, "0x60");
        EXPECT_EQ(figures.referenceBoards[0].kind, "golden");
        EXPECT_EQ(figures.referenceBoards[0].runs, 2);
        EXPECT_EQ(figures.referenceBoards[0].passed, 2);
        EXPECT_EQ(figures.referenceBoards[1].kind, "known-bad");
        EXPECT_EQ(figures.referenceBoards[1].failed, 2);
        // Nor do their runs count among the steps or the measurements.
        EXPECT_EQ(Step(figures.line, "flash").runs, c.runs);
        const CapabilityFigures measured = ReadCapability(*connect(location), filter);
        ASSERT_EQ(measured.capability.size(), 1u);
        EXPECT_EQ(measured.capability[0].count, std::size_t(c.runs));
        EXPECT_DOUBLE_EQ(measured.capability[0].max, 10);
    }

    ReportFilter other = day;
    other.image = std::string(10, 'B');  // a prefix, in either case
    EXPECT_EQ(report(other).line.counts.runs, 2);
    other.image.clear();
    other.version = "0.9.0";
    EXPECT_EQ(report(other).line.counts.boards, 1);
    other.version = "0.9";
    EXPECT_EQ(report(other).line.counts.runs, 0);

    // Unmarked, a board counts again.
    EXPECT_TRUE(UnmarkReferenceBoard(*db, "0x6B"));
    EXPECT_FALSE(UnmarkReferenceBoard(*db, "0x6B"));
    EXPECT_EQ(report(day).line.counts.boards, 7);

    const nlohmann::json json = nlohmann::json::parse(LineReportJson(report(day)));
    EXPECT_EQ(json["line"]["second_pass_yield"], 3.0 / 6);
    EXPECT_EQ(json["line"]["last_pass_yield"], 4.0 / 7);
    EXPECT_EQ(json["reference_boards"][0]["die_id"], "0x60");
    EXPECT_EQ(json["reference_boards"].size(), 1u);
    EXPECT_NE(LineReportPage(report(day)).find("<h2>Reference boards</h2>"), std::string::npos);
    EXPECT_NE(LineReportCsv(report(day))
                  .find("\nreference_die_id,kind,runs,passed,failed\n0x60,"
                        "golden,2,2,0\n"),
              std::string::npos);
    EXPECT_NE(LineReportText(report(day)).find("REFERENCE BOARDS"), std::string::npos);
}

// A store of the version before the store kept the figures: its report reads the runs
// themselves, and once a station upgraded it, the figures the upgrade filled in give the same.
TEST_P(LineReportTest, AnOlderStoreReportsTheSameBeforeAndAfterItsUpgrade) {
    static int databases = 0;
    const std::string older =
        GetParam() == "sqlite"
            ? tempPath("older.sqlite")
            : TestPostgresServer().createDatabase("older" + std::to_string(++databases));
    {
        const auto db = connect(older);
        MakeOlderStore(*db, 4);
        InsertRuns(*db, ComingBackLine());
    }
    const ReportFilter periods[] = {
        {.since = "2026-12-21T00:00:00Z", .until = "2026-12-24T00:00:00Z"},
        {.since = "2026-12-20T00:00:00Z", .until = "2026-12-22T12:00:00Z", .station = "bench-2"}};
    std::vector<nlohmann::json> before;
    for (const ReportFilter& filter : periods) before.push_back(Figures(reportOf(older, filter)));
    OpenRunStore(older);
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(Figures(reportOf(older, periods[i])), before[i]) << i;
        EXPECT_GT(before[i]["line"]["runs"].get<int>(), 0);
    }
}

// A damaged run of an older store blocks neither its report nor its upgrade: it is named, left
// out of the times and steps, and the figures are those of the store without it, before the
// upgrade and after it.
TEST_P(LineReportTest, DamagedRunsOfAnOlderStoreAreNamedAndLeftOutBeforeAndAfterItsUpgrade) {
    static int databases = 0;
    std::string stores[2];
    for (std::string& store : stores) {
        store = GetParam() == "sqlite"
                    ? tempPath("older" + std::to_string(++databases) + ".sqlite")
                    : TestPostgresServer().createDatabase("damaged" + std::to_string(++databases));
        const auto db = connect(store);
        MakeOlderStore(*db, 4);
        InsertRuns(*db, ComingBackLine());
    }
    const std::string clean = stores[0], damaged = stores[1];
    std::vector<std::string> ids;
    {
        const auto db = connect(damaged);
        for (
            const char* steps :
            {"[{\"step\":", R"({"step":"flash","ok":true})",
             R"([{"step":"flash","started":"2026-12-21T10:00:00Z","finished":"later","ok":true}])"}) {
            db->run(
                "INSERT INTO k350_runs (die_id, chip_id, station, port, recipe, started_at,"
                " finished_at, result, steps) VALUES ('0xDA', '0xC1', 'bench-1', '1-1.1',"
                " 'K-350A, line 2', '2026-12-21T10:00:00Z', '2026-12-21T10:01:00Z', 'passed', ?)",
                {std::string(steps)});
            ids.push_back(db->run("SELECT MAX(id) FROM k350_runs").at(0).at(0).value_or(""));
        }
    }
    const ReportFilter period{.since = "2026-12-21T00:00:00Z", .until = "2026-12-24T00:00:00Z"};
    const auto timesAndSteps = [](const LineReport& report) {
        const nlohmann::json line = Figures(report)["line"];
        return nlohmann::json{line["steps"], line["board_median_s"], line["board_p95_s"]};
    };
    const LineReport before = reportOf(damaged, period);
    EXPECT_EQ(timesAndSteps(before), timesAndSteps(reportOf(clean, period)));
    EXPECT_EQ(before.line.counts.runs, reportOf(clean, period).line.counts.runs + 3);
    const CliRun told = run(
        {"report", "--since", "2026-12-21", "--until", "2026-12-23", "--json", "--store", damaged});
    ASSERT_EQ(told.status, 0) << told.err;
    EXPECT_NE(told.err.find("3 damaged runs left out of the times and steps: run " + ids[0] +
                            " (its steps are not JSON), run " + ids[1] +
                            " (its steps are not a list of steps), run " + ids[2] +
                            " (a step's time is not a time)"),
              std::string::npos)
        << told.err;
    EXPECT_NE(OpenRunStore(damaged)->openingNotice().find("3 damaged runs"), std::string::npos);
    EXPECT_EQ(Figures(reportOf(damaged, period)), Figures(before));
}

INSTANTIATE_TEST_SUITE_P(Databases, LineReportTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

class LineReportCommand : public CliFixture {};

TEST_F(LineReportCommand, BadInputIsRefusedInOneLineAndAMissingStoreIsAFileProblem) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    };
    const std::string store = tempPath("none.sqlite");
    for (const Case& refused : std::vector<Case>{
             {{"report", "--since", "yesterday"}, 2, "--since and --until take"},
             {{"report", "--since", "2026-02-30"}, 2, "--since and --until take"},
             {{"report", "--since", "2026-12-09T25:00"}, 2, "--since and --until take"},
             {{"report", "--since", "2026-12-10", "--until", "2026-12-09T12:00"},
              2,
              "the end after the start"},
             {{"report", "--json", "--csv"}, 2, "one of --json, --csv and --html"},
             {{"report", "--alert-of", "0"}, 2, "--alert-of needs a whole number"},
             {{"report", "--store", store}, 4, "no store"},
         }) {
        const CliRun result = run(refused.arguments);
        EXPECT_EQ(result.status, refused.status) << refused.arguments[1];
        EXPECT_NE(result.err.find(refused.says), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(store));  // only read, never made
}

// Whatever a station name or an error holds, the report's table stays one line a row and moves
// no cursor, its CSV runs no formula, and a page that cannot be written says why.
TEST_F(LineReportCommand, StoredTextsAreSafeInEveryForm) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string store = tempPath("line.sqlite");
    {
        auto runs = OpenRunStore(store);
        RunRecord board = line_store::Board(3, 1, line_store::DieId(3, 1, 1));
        board.station = "=bench\x1b[31m-3";
        line_store::Record(*runs, board, 9 * 3600, {{"flash", 20}}, RunResult::Failed,
                           "no answer\nERROR  0x0000  forged line\xC2\x9B");
    }
    const std::vector<std::string> day{"report",     "--since", "2026-12-09", "--until",
                                       "2026-12-09", "--store", store};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), day.begin(), day.end());
        return run(more);
    };
    const CliRun text = with({});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("\xC2\x9B"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("=bench\\x1B[31m-3"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("no answer\\nERROR  0x0000  forged line\\x9B\n"), std::string::npos)
        << text.out;
    const CliRun csv = with({"--csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find("\nstation,'=bench\x1b[31m-3,,1,1,0,1,"), std::string::npos) << csv.out;

    const CliRun html = with({"--html", tempPath("missing/line.html")});
    EXPECT_EQ(html.status, 4);
    EXPECT_NE(html.err.find("line.html\" cannot be written: No such file or directory\n"),
              std::string::npos)
        << html.err;
}

// A copy of the line's store on a medium mounted read-only (a snapshot, a CD) is reported.
TEST_F(LineReportCommand, AStoreOnAReadOnlyMediumIsReported) {
    SmallDisk disk(32768);
    if (!disk.available()) GTEST_SKIP() << disk.problem();
    const std::string store = disk.path() + "/line.sqlite";
    setenv("TZ", "UTC", 1);
    tzset();
    WriteLineDay(*OpenRunStore(store));
    ASSERT_TRUE(disk.remountReadOnly());
    const CliRun json = run(
        {"report", "--since", "2026-12-09", "--until", "2026-12-09", "--json", "--store", store});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(nlohmann::json::parse(json.out)["stations"].size(), 2u);
}

}  // namespace
