// A plausible line's runs, for the report's benchmark and its picture: benches of ports working a
// shift from 06:00 UTC each day, one bench slower than the others, a few failures at every step
// with the errors a line sees, boards that fail coming back at another port, now and then an
// unusable board, and one port that goes bad on the last afternoon (its boards fail at the flash
// step). The same seed gives the same runs.
#pragma once

#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "store/RunFigures.h"
#include "store/RunStore.h"
#include "store/RunTally.h"
#include "store/SqlConnection.h"

struct LineShape {
    int runs = 1000;
    int days = 1;
    int benches = 4, ports = 4;
    int firstDay = 9;  // of December 2026; later days follow on
    unsigned seed = 350;
};

namespace line_simulation {

inline std::string TimeText(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

inline std::time_t DayStart(const LineShape& shape, int day) {
    std::tm utc{};
    utc.tm_year = 2026 - 1900;
    utc.tm_mon = 11;
    utc.tm_mday = shape.firstDay + day;
    return timegm(&utc);
}

struct StepPlan {
    const char* step;
    double seconds;
};

const StepPlan kSteps[] = {
    {"flash", 38}, {"verify", 9}, {"config", 3}, {"readback", 2}, {"soak", 20}};

inline const char* ErrorAt(const std::string& step, int pick) {
    if (step == "flash") {
        return pick % 2 ? "Error: -110 (the board did not answer in time)"
                        : "the flash did not become ready after the sector erase";
    }
    if (step == "verify") return "the flash differs from the image first at 0x01F400";
    if (step == "readback") {
        return "the board holds other values: codec.left_input_gain (written -6 dB, read 0 dB)";
    }
    if (step == "config") return "Error: -19 (the board was unplugged)";
    return pick % 2 ? "erroneous packets 0.4000 % above the limit 0.1000 %"
                    : "jitter 31.0000 ms above the limit 20.0000 ms";
}

}  // namespace line_simulation

inline std::vector<RunRecord> SimulatedLine(const LineShape& shape) {
    using namespace line_simulation;
    std::mt19937 random(shape.seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<RunRecord> runs;
    runs.reserve(std::size_t(shape.runs) + 64);
    const int perPortDay = std::max(1, shape.runs / (shape.days * shape.benches * shape.ports));
    std::vector<RunRecord> comingBack;  // failed boards the operator tries again
    long board = 0;
    for (int day = 0; day < shape.days && int(runs.size()) < shape.runs; ++day) {
        for (int bench = 1; bench <= shape.benches; ++bench) {
            // The third bench has an older hub: every transfer takes longer.
            const double pace = bench == 3 ? 1.45 : 1.0 + 0.03 * bench;
            for (int port = 1; port <= shape.ports; ++port) {
                double at = double(DayStart(shape, day)) + 6 * 3600 + unit(random) * 120;
                // From the middle of the last day on.
                const bool badPort =
                    bench == 2 && port == std::min(3, shape.ports) && day == shape.days - 1;
                const int turnsBad = perPortDay * 3 / 5;
                for (int n = 0; n < perPortDay && int(runs.size()) < shape.runs; ++n) {
                    RunRecord run;
                    const bool retest = !comingBack.empty() && unit(random) < 0.5;
                    if (retest) {
                        run = comingBack.back();
                        comingBack.pop_back();
                    } else {
                        char die[32];
                        std::snprintf(die, sizeof die, "0x350A%012lX", ++board);
                        run.dieId = die;
                        run.chipId = "0x5449000550C10207";
                        char serial[16];
                        std::snprintf(serial, sizeof serial, "%04ld", board % 10000);
                        run.serial = serial;
                    }
                    run.station = "bench-" + std::to_string(bench);
                    run.port = "1-1." + std::to_string(port);
                    run.recipe = "K-350A, line 2";
                    run.startedAt = TimeText(std::time_t(at));
                    const bool late = n >= turnsBad;
                    const double roll = unit(random);
                    if (!retest && roll < 0.003) {
                        run.dieId.clear();
                        run.chipId.clear();
                        run.serial.clear();
                        run.result = "unusable";
                        run.error = "the board cannot be opened: Error: -13 (access denied)";
                        run.finishedAt = run.startedAt;
                        runs.push_back(run);
                        at += 40 + unit(random) * 30;
                        continue;
                    }
                    // Which step fails, if any: a bad port fails most boards at the flash.
                    int failing = -1;
                    if (badPort && late && unit(random) < 0.75) {
                        failing = 0;
                    } else if (!retest && roll < 0.035) {
                        const double which = unit(random);
                        failing = which < 0.35   ? 0
                                  : which < 0.5  ? 1
                                  : which < 0.6  ? 2
                                  : which < 0.75 ? 3
                                                 : 4;
                    }
                    std::string steps = "[";
                    double t = at;
                    for (int s = 0; s < 5; ++s) {
                        const double seconds = kSteps[s].seconds * pace *
                                               (0.9 + 0.25 * unit(random)) *
                                               (s == failing ? 0.5 : 1);
                        const bool ok = s != failing;
                        steps += std::string(s ? "," : "") + "{\"step\":\"" + kSteps[s].step +
                                 "\",\"started\":\"" + TimeText(std::time_t(t)) +
                                 "\",\"finished\":\"" + TimeText(std::time_t(t + seconds)) +
                                 "\",\"ok\":" + (ok ? "true" : "false") + "}";
                        t += seconds;
                        if (!ok) break;
                    }
                    run.steps = steps + "]";
                    run.finishedAt = TimeText(std::time_t(t));
                    if (failing >= 0) {
                        run.result = RunResult::Failed;
                        run.failedStep = kSteps[failing].step;
                        run.error = ErrorAt(run.failedStep, int(runs.size()));
                        if (unit(random) < 0.8) {
                            RunRecord again = run;
                            again.failedStep.clear();
                            again.error.clear();
                            comingBack.push_back(again);
                        }
                    } else {
                        run.result = RunResult::Passed;
                        run.failedStep.clear();
                        run.error.clear();
                    }
                    runs.push_back(run);
                    // The operator swaps the board, now and then fetches a tray first.
                    at = t + 25 + unit(random) * 40 + (unit(random) < 0.2 ? unit(random) * 900 : 0);
                }
            }
        }
    }
    return runs;
}

// Inserts the runs, many rows a statement, in the columns every version of the store has.
inline void InsertRuns(SqlConnection& db, const std::vector<RunRecord>& runs) {
    constexpr std::size_t kRowsPerStatement = 200;
    const auto nullable = [](const std::string& text) {
        return text.empty() ? SqlValue() : SqlValue(text);
    };
    for (std::size_t first = 0; first < runs.size(); first += kRowsPerStatement) {
        std::string sql =
            "INSERT INTO k350_runs (die_id, chip_id, serial, station, port, recipe, started_at,"
            " finished_at, result, failed_step, error, steps) VALUES ";
        std::vector<SqlValue> values;
        for (std::size_t i = first; i < std::min(runs.size(), first + kRowsPerStatement); ++i) {
            const RunRecord& run = runs[i];
            sql += std::string(i > first ? "," : "") + "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
            values.insert(values.end(),
                          {run.dieId, run.chipId, nullable(run.serial), run.station, run.port,
                           run.recipe, run.startedAt, nullable(run.finishedAt), run.result,
                           nullable(run.failedStep), nullable(run.error), nullable(run.steps)});
        }
        db.run(sql, values);
    }
}

// Writes the runs and their figures in one transaction: much faster than a station's one
// transaction a run, which is not what the benchmark and the picture are about. The store's
// schema must be there (OpenRunStore makes it).
inline void FillRuns(SqlConnection& db, const std::vector<RunRecord>& runs) {
    db.run("BEGIN");
    InsertRuns(db, runs);
    RunFigures(db).fillAll();
    RunTally(db).fillAll();
    db.run("COMMIT");
}

// The same in a store from before the line's totals.
inline void FillRunsWithoutTotals(SqlConnection& db, const std::vector<RunRecord>& runs) {
    db.run("BEGIN");
    InsertRuns(db, runs);
    RunFigures(db).fillAll();
    db.run("COMMIT");
}
