// report: the line's figures for a period, counted in the store, as text, JSON, CSV or a page.
#include <cerrno>
#include <cstring>

#include "cli/Commands.h"
#include "config/PosixFile.h"
#include "report/LineReportRead.h"
#include "report/TimeBound.h"
#include "store/DamagedRuns.h"
#include "store/RunStore.h"
#include "store/StoreText.h"

namespace {

int Fail(Console& console, const std::string& text, int status) {
    console.message("k350ctl: " + text);
    return status;
}

int WritePage(const std::string& path, const std::string& page, Console& console) {
    if (path == "-") {
        console.text(page);
        return ExitStatus::Ok;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(page.data());
    errno = 0;
    if (WriteFileAtomically(path, bytes, page.size()) != AtomicWriteResult::Ok) {
        // The step that failed left its reason in errno (a folder that is missing or not ours,
        // a full disk).
        const int reason = errno;
        return Fail(console,
                    "file " + Quoted(path) + " cannot be written" +
                        (reason ? std::string(": ") + std::strerror(reason) : std::string()),
                    ExitStatus::File);
    }
    return ExitStatus::Ok;
}

// An image is named by its SHA-256 or the start of it, in hexadecimal.
std::string ImageProblem(const std::string& image) {
    const bool hex = image.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (hex && image.size() <= 64) return {};
    return "--image takes an image's SHA-256 or the start of it (up to 64 hexadecimal digits), "
           "not " +
           Quoted(image);
}

}  // namespace

int ReportCommand(const Options& options, Console& console) {
    if (int(options.json) + int(options.csv) + int(options.html.has_value()) > 1) {
        return Refuse(console, "report prints one of --json, --csv and --html");
    }
    if (options.measurements && (options.json || options.csv || options.html)) {
        return Refuse(console, "--measurements prints the measurements alone, as CSV");
    }
    const auto period = ParseReportPeriod(options.since, options.until, std::time(nullptr));
    if (!period) {
        return Refuse(console,
                      std::string("--since and --until take an ISO 8601 date or time, the end "
                                  "after the start: ") +
                          kTimeBoundForms);
    }
    const AlertRule rule{options.alertFailures.value_or(AlertRule{}.failures),
                         options.alertOf.value_or(AlertRule{}.of)};
    const std::string location = options.store.value_or(kDefaultStore);
    if (const std::string problem = ImageProblem(options.image); !problem.empty()) {
        return Refuse(console, problem);
    }
    const ReportFilter scope{{},
                             {},
                             options.stationName,
                             options.port,
                             options.recipe.value_or(""),
                             options.lot,
                             options.image,
                             options.programVersion};
    if (options.measurements) {
        try {
            console.text(MeasurementsCsvAt(location, *period, scope));
        } catch (const StoreError& error) {
            return Fail(console, error.what(), ExitStatus::File);
        }
        return ExitStatus::Ok;
    }
    LineReport report;
    try {
        report = ReadLineReportAt(location, *period, scope, rule);
    } catch (const StoreError& error) {
        return Fail(console, error.what(), ExitStatus::File);
    }
    // Told whatever the form, on standard error: the figures stand without them.
    if (const std::string damaged = DamagedRunsText(report.leftOut); !damaged.empty()) {
        console.message("k350ctl: store " + ShownLocation(location) + ": " + damaged);
    }
    if (options.html) {
        return WritePage(*options.html, RenderedLineReport(report, ReportFormat::Html), console);
    }
    console.text(RenderedLineReport(report, options.json  ? ReportFormat::Json
                                            : options.csv ? ReportFormat::Csv
                                                          : ReportFormat::Text));
    return ExitStatus::Ok;
}
