// The report floor on its own: the history's formats and the period's bounds, with no board link
// and no command line below them.
#include <gtest/gtest.h>

#include "report/HistoryReport.h"
#include "report/ReportPeriod.h"
#include "report/TimeBound.h"
#include "store/RunJson.h"

namespace {

RunRecord SampleRun() {
    RunRecord run;
    run.id = 7;
    run.serial = "0042";
    run.dieId = "D1";
    run.station = "bench-1";
    run.port = "1-1.3";
    run.recipe = "k350a";
    run.startedAt = "2026-12-09T10:00:00Z";
    run.result = "passed";
    run.steps = R"([{"step":"flash","ok":true}])";
    return run;
}

}  // namespace

TEST(HistoryFormats, JsonLineIsTheRunsOwnRecord) {
    const RunRecord run = SampleRun();
    EXPECT_EQ(HistoryReport({run}, HistoryFormat::Json), RunJsonLine(run) + "\n");
    EXPECT_NE(RunJsonLine(run).find(R"("steps":[{"step":"flash","ok":true}])"), std::string::npos);
}

// The command run after the board, and how it ended, in each of history's formats; none for a
// run without one.
TEST(HistoryFormats, EachFormatTellsTheHooksStatus) {
    RunRecord run = SampleRun();
    EXPECT_EQ(HistoryReport({run}, HistoryFormat::Text).find("hook"), std::string::npos);
    EXPECT_NE(RunJsonLine(run).find(R"("hook":null,"hook_status":null)"), std::string::npos);
    run.hook = "on_pass";
    run.hookStatus = "exit 2";
    run.hookOutput = "no paper\n";
    EXPECT_NE(HistoryReport({run}, HistoryFormat::Text).find("  hook on_pass: exit 2\n"),
              std::string::npos);
    EXPECT_NE(RunJsonLine(run).find(R"("hook":"on_pass","hook_status":"exit 2")"),
              std::string::npos);
    const std::string csv = HistoryReport({run}, HistoryFormat::Csv);
    EXPECT_NE(csv.find(",hook,hook_status,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",on_pass,exit 2,"), std::string::npos) << csv;
}

TEST(HistoryFormats, DamagedStepsAreKeptAsText) {
    RunRecord run = SampleRun();
    run.steps = "[{\"step\":";
    EXPECT_NE(RunJsonLine(run).find(R"("steps":"[{\"step\":")"), std::string::npos);
}

TEST(ReportPeriodBounds, UntilBeforeSinceIsNoPeriod) {
    EXPECT_FALSE(ParseReportPeriod("2026-12-10", "2026-12-09", 0));
    const auto period = ParseReportPeriod("2026-12-09T00:00Z", "2026-12-09T12:00Z", 0);
    ASSERT_TRUE(period);
    EXPECT_EQ(period->since, "2026-12-09T00:00:00Z");
    EXPECT_EQ(period->until, "2026-12-09T12:00:00Z");
}

TEST(ReportPeriodBounds, TimeBoundFormsAndUtcText) {
    const auto bound = ParseTimeBound("2026-12-09T23:00+03:00");
    ASSERT_TRUE(bound);
    EXPECT_EQ(UtcText(bound->first), "2026-12-09T20:00:00Z");
    EXPECT_EQ(bound->after - bound->first, 60);
    EXPECT_FALSE(ParseTimeBound("2026-02-30"));
}

// The store compares times as text: a year before 1000 keeps its four digits, and a bound beyond
// the years 0000 to 9999 (their first or last day with a zone) is told as their first or last
// instant, so every bound sorts as its instant does.
TEST(ReportPeriodBounds, UtcTextSortsAsItsInstantInEveryYear) {
    const auto early = ParseTimeBound("0999-06-01T12:00Z");
    ASSERT_TRUE(early);
    EXPECT_EQ(UtcText(early->first), "0999-06-01T12:00:00Z");
    const auto period = ParseReportPeriod("0999-06-01T12:00Z", "2026-12-09T00:00Z", 0);
    ASSERT_TRUE(period);
    EXPECT_LT(period->since, period->until);
    EXPECT_EQ(UtcText(ParseTimeBound("0000-01-01T00:00+14:00")->first), "0000-01-01T00:00:00Z");
    EXPECT_EQ(UtcText(ParseTimeBound("9999-12-31T23:59-14:00")->first), "9999-12-31T23:59:59Z");
}
