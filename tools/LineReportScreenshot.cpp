// Makes docs/line-report.png: a simulated day of a line of four benches in an SQLite store, the
// report's page of that day, rendered by headless chromium.
// Usage: k350-line-report-screenshot OUTPUT.png [STORE]   (STORE is kept when given)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "report/LineReport.h"
#include "report/LineReportPage.h"
#include "store/SqliteConnection.h"
#include "tests/support/LineSimulation.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: k350-line-report-screenshot OUTPUT.png [STORE]\n");
        return 2;
    }
    setenv("TZ", "UTC", 1);
    char pattern[] = "/tmp/k350-line-shot-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string folder = pattern;
    const std::string store = argc > 2 ? argv[2] : folder + "/line.sqlite";
    std::filesystem::remove(store);
    OpenRunStore(store);
    LineShape shape;
    shape.runs = 1600;
    shape.benches = 4;
    shape.ports = 4;
    SqliteConnection db(store);
    FillRuns(db, SimulatedLine(shape));
    const ReportFilter filter{"2026-12-09T00:00:00Z", "2026-12-10T00:00:00Z"};
    ReportQueries queries(db, filter);
    LineReport report = ReadLineReport(queries, filter, AlertRule{});
    report.periodText = "2026-12-09 00:00 to 2026-12-10 00:00";
    const std::string page = folder + "/line.html";
    std::ofstream(page) << LineReportPage(report);
    const std::string command =
        "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
        " --disable-background-networking --disable-component-update --disable-sync"
        " --hide-scrollbars --user-data-dir=" +
        folder + "/profile --screenshot='" + std::string(argv[1]) +
        "' --window-size=1200,1700 file://" + page + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    std::filesystem::remove_all(folder);
    if (status != 0) {
        std::fprintf(stderr, "chromium failed (status %d)\n", status);
        return 1;
    }
    return 0;
}
