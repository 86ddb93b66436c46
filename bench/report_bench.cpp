// The line report over a store of many runs, in SQLite and in a PostgreSQL server of its own:
// the report of one day and of the whole period (the queries and the formatting), history of one
// serial and since a day, and what a station's run costs to write into a store that large.
//   bench_report_bench [RUNS [DAYS]]   (default 100000 runs over 60 days, 8 benches of 8 ports)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "bench/FilledLineStore.h"
#include "bench/Timing.h"
#include "report/LineReport.h"
#include "report/LineReportPage.h"
#include "store/ReferenceBoards.h"
#include "store/RunStore.h"
#include "tests/support/PostgresServer.h"

namespace {

constexpr int kWrites = 200;

// Runs written as a station writes them, one transaction to begin and one to finish each, into
// the filled store the day after its last: what the store's upkeep costs a station. Every tenth
// board comes back; the others are new, as on the line.
double StationWrites(RunStore& store, const std::vector<RunRecord>& runs, const LineShape& shape) {
    const std::string day = line_simulation::TimeText(line_simulation::DayStart(shape, shape.days));
    static unsigned written = 0;
    return Best([&] {
        for (int i = 0; i < kWrites; ++i) {
            RunRecord run = runs[std::size_t(i) * (runs.size() / kWrites)];
            if (i % 10 != 0) {
                char die[32];
                std::snprintf(die, sizeof die, "0x350B%012X", ++written);
                run.dieId = die;
            }
            run.startedAt = day.substr(0, 11) + "08:00:00Z";
            run.finishedAt = day.substr(0, 11) + "08:01:10Z";
            run.id = store.beginRun(run);
            store.finishRun(run);
        }
    });
}

void Measure(const char* name, const std::string& location, SqlDialect dialect,
             const std::vector<RunRecord>& runs, const LineShape& shape) {
    FilledLineStore filled = FillLineStore(location, dialect, runs);
    const double fill = filled.fillSeconds;
    auto db = std::move(filled.db);
    const std::string lastDay =
        line_simulation::TimeText(line_simulation::DayStart(shape, shape.days - 1));
    const std::string end = line_simulation::TimeText(line_simulation::DayStart(shape, shape.days));
    const std::string first = line_simulation::TimeText(line_simulation::DayStart(shape, 0));
    std::size_t dayRuns = 0, pageBytes = 0;
    const auto report = [&](const std::string& since, const ReportFilter& only = {}) {
        const ReportFilter filter{since, end, only.station, only.port, only.recipe};
        ReportQueries queries(*db, filter);
        const LineReport figures = ReadLineReport(queries, filter, AlertRule{});
        pageBytes = LineReportPage(figures).size() + LineReportText(figures).size();
        dayRuns = std::size_t(figures.line.counts.runs);
    };
    const double day = Best([&] { report(lastDay); });
    const std::size_t dayCount = dayRuns;
    const double whole = Best([&] { report(first); });
    // Filters the store keeps no board figures for: these count each board's runs themselves.
    const double byRecipe = Seconds([&] { report(first, {.recipe = "K-350A, line 2"}); });
    const double byPort = Seconds([&] { report(first, {.port = "1-1.1"}); });
    const double byStationPort =
        Seconds([&] { report(first, {.station = "bench-1", .port = "1-1.1"}); });
    const std::size_t shownBytes = pageBytes;
    // A line keeps a few golden and known-bad boards; their runs are left out of every figure.
    for (std::size_t i = 1; i <= 3; ++i) {
        MarkReferenceBoard(*db, {runs[i * runs.size() / 4].dieId, ReferenceKind::Golden, {}, {}});
    }
    const double dayLessReference = Best([&] { report(lastDay); });
    const double wholeLessReference = Best([&] { report(first); });
    pageBytes = shownBytes;
    auto store = OpenRunStore(location);
    const std::string serial = runs[runs.size() / 2].serial;
    std::size_t serialRuns = 0, sinceRuns = 0;
    const double bySerial = Best([&] { serialRuns = store->history({.serial = serial}).size(); });
    const double since = Best([&] { sinceRuns = store->history({.since = lastDay}).size(); });
    const double write = StationWrites(*store, runs, shape) / kWrites;
    std::size_t remembered = 0;
    const double start = Best([&] { remembered = StationVerdicts(*db, "bench-1", 5).size(); });
    std::printf(
        "%-10s  fill %7.2f s   report: a day (%zu runs) %7.3f s, all %zu runs %7.3f s"
        " (page and text %zu KiB)   history --serial (%zu runs) %7.4f s, --since a day "
        "(%zu runs) %7.3f s   a station's run written %6.2f ms\n",
        name, fill, dayCount, day, runs.size(), whole, pageBytes / 1024, serialRuns, bySerial,
        sinceRuns, since, write * 1000);
    std::printf(
        "%-10s  the whole period's report of one --recipe %7.3f s, of one --port at every "
        "station %7.3f s, of one --station and --port %7.3f s\n",
        name, byRecipe, byPort, byStationPort);
    std::printf("%-10s  a station's start: the last 5 runs of its %zu ports %7.4f s\n", name,
                remembered, start);
    std::printf("%-10s  with 3 reference boards left out: a day %7.3f s, all %7.3f s\n", name,
                dayLessReference, wholeLessReference);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each store's line as soon as it is measured
    const LineShape shape =
        BenchLineShape(argc > 1 ? std::atoi(argv[1]) : 100000, argc > 2 ? std::atoi(argv[2]) : 60);
    if (shape.runs < 100 || shape.days < 1) {
        std::fprintf(stderr, "usage: bench_report_bench [RUNS (100 or more) [DAYS]]\n");
        return 2;
    }
    const std::vector<RunRecord> runs = SimulatedLine(shape);
    std::printf("line report: %zu runs over %d days, %d benches of %d ports\n", runs.size(),
                shape.days, shape.benches, shape.ports);

    char pattern[] = "/tmp/k350-report-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string folder = pattern;
    Measure("SQLite", folder + "/line.sqlite", SqlDialect::Sqlite, runs, shape);
    {
        PostgresServer server;
        if (server.available()) {
            Measure("PostgreSQL", server.createDatabase("report_bench"), SqlDialect::Postgres, runs,
                    shape);
        } else {
            std::printf("PostgreSQL  not measured: %s\n", server.problem().c_str());
        }
    }
    std::filesystem::remove_all(folder);
    return 0;
}
