// The report's capability over the report benchmark's line with every run's measurements, in
// SQLite and in a PostgreSQL server of its own: a day's and the whole period's capability and
// drift, and what a run's measurements add to a station's write of it.
//   bench_capability_bench [RUNS [DAYS [STORE]]]   (default 1000000 runs over 365 days)
// STORE is sqlite or postgresql to measure one of them; both by default.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "bench/Timing.h"
#include "report/CapabilityReport.h"
#include "store/MeasurementRows.h"
#include "store/PostgresConnection.h"
#include "store/RunStore.h"
#include "store/SqliteConnection.h"
#include "tests/support/LineSimulation.h"
#include "tests/support/PostgresServer.h"

namespace {

// Each measurement's nominal value and its spread (one sigma, a share of it).
struct Nominal {
    const char* name;
    double value, spread;
};
constexpr Nominal kNominal[] = {
    {"identify.ms", 12, 0.05},
    {"flash.erase_ms.max", 265, 0.06},
    {"flash.erase_ms.mean", 250, 0.06},
    {"flash.program_ms.max", 2.2, 0.05},
    {"flash.program_ms.mean", 2.0, 0.05},
    {"download.s", 38, 0.03},
    {"verify.s", 9, 0.03},
    {"config.s", 3, 0.05},
    {"readback.s", 2, 0.05},
    {"soak.erroneous_percent.mean", 0.1, 0.25},
    {"soak.erroneous_percent.worst", 0.2, 0.25},
    {"soak.lost_percent.mean", 0.15, 0.25},
    {"soak.lost_percent.worst", 0.3, 0.25},
    {"soak.jitter_ms.mean", 0.45, 0.1},
    {"soak.jitter_ms.worst", 0.55, 0.1},
    {"soak.processor_load.mean", 20, 0.03},
    {"soak.processor_load.worst", 21, 0.03},
    {"soak.sync_frequency.mean", 8000, 0.0002},
    {"soak.sync_frequency.worst", 8001, 0.0002},
};

// The measurements of every run already in the store, in one transaction: one port drifts a
// little with each of its boards, every 500th board has a slow flash.
void FillMeasurements(SqlConnection& db) {
    db.run("BEGIN");
    const auto runs = db.run("SELECT id, station, port, started_at FROM k350_runs ORDER BY id");
    std::mt19937 generator(350);
    std::normal_distribution<double> noise(0, 1);
    constexpr std::size_t kRowsPerStatement = 150;
    std::string sql;
    std::vector<SqlValue> values;
    std::size_t rows = 0, drifting = 0;
    std::map<std::string, double> previous;  // by port and name: each value's moving range
    const auto flush = [&] {
        if (rows == 0) return;
        db.run(sql, values);
        sql.clear();
        values.clear();
        rows = 0;
    };
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const SqlRow& run = runs[i];
        const bool drifts = run.at(1) == "bench-1" && run.at(2) == "1-1.1";
        drifting += drifts;
        int seq = 0;
        for (const Nominal& nominal : kNominal) {
            double value = nominal.value * (1 + nominal.spread * noise(generator));
            if (drifts) value *= 1 + 0.00005 * double(drifting);
            if (i % 500 == 0 && std::string(nominal.name).starts_with("flash.")) value *= 1.4;
            if (rows == 0) {
                sql =
                    "INSERT INTO k350_measurements (run_id, seq, station, port, started_at, name,"
                    " value, unit, high, outcome, moving_range) VALUES ";
            }
            sql += std::string(rows ? "," : "") + "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
            const std::string stream = *run.at(1) + "/" + *run.at(2) + "/" + nominal.name;
            const auto last = previous.find(stream);
            const SqlValue movingRange =
                last == previous.end() ? SqlValue() : ValueText(std::fabs(value - last->second));
            previous[stream] = value;
            const double high = nominal.value * 1.5;
            values.insert(values.end(), {run.at(0), std::to_string(seq++), run.at(1), run.at(2),
                                         run.at(3), std::string(nominal.name), ValueText(value),
                                         UnitOf(nominal.name).value_or(""), ValueText(high),
                                         std::string(value > high ? "fail" : "pass"), movingRange});
            if (++rows == kRowsPerStatement) flush();
        }
    }
    flush();
    db.run("COMMIT");
}

std::vector<Measurement> RunMeasurements() {
    std::vector<Measurement> measurements;
    for (const Nominal& nominal : kNominal) {
        measurements.push_back(
            Measured(nominal.name, nominal.value, UnitOf(nominal.name).value_or(""),
                     {std::nullopt, nominal.value * 1.5, std::nullopt, std::nullopt}));
    }
    return measurements;
}

// A station's writes of runs, each begun and finished in its own transaction, with or without
// its measurements; ms a run.
double RunWriteMs(RunStore& store, const std::vector<RunRecord>& runs, const std::string& day,
                  bool measured) {
    constexpr int kWrites = 200;
    static unsigned written = 0;
    return Best([&] {
               for (int i = 0; i < kWrites; ++i) {
                   RunRecord run = runs[std::size_t(i) * (runs.size() / kWrites)];
                   char die[32];
                   std::snprintf(die, sizeof die, "0x350C%012X", ++written);
                   run.dieId = die;
                   run.key.clear();
                   run.startedAt = day.substr(0, 11) + "08:00:00Z";
                   run.finishedAt = day.substr(0, 11) + "08:01:10Z";
                   if (measured) run.measurements = RunMeasurements();
                   run.id = store.beginRun(run);
                   store.finishRun(run);
               }
           }) *
           1000 / kWrites;
}

void Measure(const char* name, const std::string& location, SqlDialect dialect,
             const std::vector<RunRecord>& runs, const LineShape& shape) {
    OpenRunStore(location);
    std::unique_ptr<SqlConnection> db;
    if (dialect == SqlDialect::Postgres) {
        db = std::make_unique<PostgresConnection>(location);
    } else {
        db = std::make_unique<SqliteConnection>(location);
    }
    const double fill = Seconds([&] {
        FillRuns(*db, runs);
        FillMeasurements(*db);
    });
    if (dialect == SqlDialect::Sqlite) db->run("PRAGMA wal_checkpoint(TRUNCATE)");
    // As autovacuum leaves a table its inserts have settled in: index-only scans need it.
    if (dialect == SqlDialect::Postgres) db->run("VACUUM ANALYZE");
    const std::string lastDay =
        line_simulation::TimeText(line_simulation::DayStart(shape, shape.days - 1));
    const std::string end = line_simulation::TimeText(line_simulation::DayStart(shape, shape.days));
    const std::string first = line_simulation::TimeText(line_simulation::DayStart(shape, 0));
    std::size_t values = 0, drifts = 0;
    const auto capability = [&](const std::string& since) {
        const CapabilityFigures figures = ReadCapability(*db, {since, end, {}, {}, {}});
        values = 0;
        for (const Capability& c : figures.capability) values += c.count;
        drifts = figures.drifts.size();
    };
    const double day = Best([&] { capability(lastDay); });
    const std::size_t dayValues = values;
    const double whole = Seconds([&] { capability(first); });
    auto store = OpenRunStore(location);
    const double bare = RunWriteMs(*store, runs, end, false);
    const double measured = RunWriteMs(*store, runs, end, true);
    std::printf(
        "%-10s  fill %7.1f s   capability: a day (%zu values) %7.3f s, the whole period (%zu "
        "values, %zu ports drifting) %7.3f s   a run written %6.2f ms, with its %zu "
        "measurements %6.2f ms (+%.2f ms)\n",
        name, fill, dayValues, day, values, drifts, whole, bare, std::size(kNominal), measured,
        measured - bare);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    LineShape shape;
    shape.runs = argc > 1 ? std::atoi(argv[1]) : 1000000;
    shape.days = argc > 2 ? std::atoi(argv[2]) : 365;
    shape.benches = 8;
    shape.ports = 8;
    shape.firstDay = 1;
    const std::string only = argc > 3 ? argv[3] : "";
    if (shape.runs < 1000 || shape.days < 1 ||
        (!only.empty() && only != "sqlite" && only != "postgresql")) {
        std::fprintf(
            stderr,
            "usage: bench_capability_bench [RUNS (1000 or more) [DAYS [sqlite|postgresql]]]\n");
        return 2;
    }
    const std::vector<RunRecord> runs = SimulatedLine(shape);
    std::printf("capability: %zu runs over %d days with %zu measurements each\n", runs.size(),
                shape.days, std::size(kNominal));
    char pattern[] = "/tmp/k350-capability-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string folder = pattern;
    if (only != "postgresql") {
        Measure("SQLite", folder + "/line.sqlite", SqlDialect::Sqlite, runs, shape);
    }
    if (only != "sqlite") {
        PostgresServer server;
        if (server.available()) {
            Measure("PostgreSQL", server.createDatabase("capability_bench"), SqlDialect::Postgres,
                    runs, shape);
        } else {
            std::printf("PostgreSQL  not measured: %s\n", server.problem().c_str());
        }
    }
    std::filesystem::remove_all(folder);
    return 0;
}
