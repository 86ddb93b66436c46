// A day of a small line in a run store, for the report's tests and pictures: two benches of four
// ports, ten boards per port from 08:00 UTC on 2026-12-09. bench-2 takes 90 s a board, bench-1
// 60 s; the last five boards at bench-1's port 1-1.3 fail at the flash step and pass at its
// port 1-1.2 an hour later; one board of bench-2 fails its read-back; bench-2's port 1-1.4 has
// an unusable and an interrupted run; one run the day before and one the day after.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "store/RunStore.h"

namespace line_store {

struct StepTime {
    const char* step;
    int seconds;
};

inline std::string TimeText(int secondsAfterMidnight, int day = 9) {
    std::tm utc{};
    utc.tm_year = 2026 - 1900;
    utc.tm_mon = 11;
    utc.tm_mday = day;
    const std::time_t time = timegm(&utc) + secondsAfterMidnight;
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

inline std::string DieId(int station, int port, int board) {
    char text[32];
    std::snprintf(text, sizeof text, "0x350A%02X%02X%02X000000", station, port, board);
    return text;
}

// Steps from `start`; the last one failed when `failed`. Returns the time the run ended.
inline int Steps(int start, const std::vector<StepTime>& steps, bool failed, std::string& json) {
    json = "[";
    int at = start;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const bool ok = !(failed && i + 1 == steps.size());
        json += std::string(i ? "," : "") + "{\"step\":\"" + steps[i].step + "\",\"started\":\"" +
                TimeText(at) + "\",\"finished\":\"" + TimeText(at + steps[i].seconds) +
                "\",\"ok\":" + (ok ? "true" : "false") + "}";
        at += steps[i].seconds;
    }
    json += "]";
    return at;
}

inline void Record(RunStore& store, RunRecord run, int start, const std::vector<StepTime>& steps,
                   const char* result, const std::string& error = {}) {
    run.startedAt = TimeText(start);
    const bool failed = std::string(result) == RunResult::Failed;
    const int end = Steps(start, steps, failed, run.steps);
    if (steps.empty()) run.steps.clear();
    if (!run.dieId.empty()) run.serial = store.serialFor(run.dieId, "0x5449000550C10207", {});
    run.id = store.beginRun(run);
    run.result = result;
    run.finishedAt = TimeText(end);
    if (failed) {
        run.failedStep = steps.back().step;
        run.error = error;
    } else if (!error.empty()) {
        run.error = error;
    }
    store.finishRun(run);
}

inline RunRecord Board(int station, int port, const std::string& die) {
    RunRecord run;
    run.dieId = die;
    run.chipId = "0x5449000550C10207";
    run.station = "bench-" + std::to_string(station);
    run.port = "1-1." + std::to_string(port);
    run.recipe = "K-350A, line 2";
    return run;
}

}  // namespace line_store

inline void WriteLineDay(RunStore& store) {
    using namespace line_store;
    const std::vector<StepTime> fast{
        {"flash", 30}, {"verify", 10}, {"config", 5}, {"readback", 5}, {"soak", 10}};
    const std::vector<StepTime> slow{
        {"flash", 45}, {"verify", 15}, {"config", 10}, {"readback", 10}, {"soak", 10}};
    const std::string timeout = "Error: -110 (the board did not answer in time)";
    for (int station = 1; station <= 2; ++station) {
        for (int port = 1; port <= 4; ++port) {
            for (int board = 0; board < 10; ++board) {
                const int start = 8 * 3600 + board * 360 + port * 10 + station * 5;
                const RunRecord run = Board(station, port, DieId(station, port, board));
                if (station == 1 && port == 3 && board >= 5) {
                    Record(store, run, start, {{"flash", 15}}, RunResult::Failed, timeout);
                } else if (station == 2 && port == 1 && board == 9) {
                    Record(store, run, start, {slow.begin(), slow.begin() + 4}, RunResult::Failed,
                           "the board holds other values: board.serial (written <0x0010>, "
                           "read 0000)");
                } else {
                    Record(store, run, start, station == 1 ? fast : slow, RunResult::Passed);
                }
            }
        }
    }
    for (int board = 5; board < 10; ++board) {  // the bad port's boards, at the next port
        Record(store, Board(1, 2, DieId(1, 3, board)), 9 * 3600 + (board - 5) * 360, fast,
               RunResult::Passed);
    }
    Record(store, Board(2, 4, ""), 10 * 3600, {}, "unusable",
           "the board cannot be opened: Error: -13");
    Record(store, Board(2, 4, DieId(2, 4, 99)), 10 * 3600 + 300, {}, "interrupted");
    Record(store, Board(1, 1, DieId(1, 1, 98)), -60, fast, RunResult::Passed);
    Record(store, Board(1, 1, DieId(1, 1, 97)), 24 * 3600, fast, RunResult::Passed);
}
