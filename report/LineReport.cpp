#include "report/LineReport.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

#include "store/Json.h"
#include "store/RunStore.h"
#include "store/StoreText.h"

namespace {

// The order the station runs its steps in; a step it does not know comes after them.
int StepRank(const std::string& step) {
    static const std::vector<std::string> order{
        StationStep::Identify, StationStep::Boot,     StationStep::Flash, StationStep::Verify,
        StationStep::Config,   StationStep::Readback, StationStep::Soak};
    const auto at = std::find(order.begin(), order.end(), step);
    return int(at - order.begin());
}

std::optional<double> Share(std::int64_t part, std::int64_t whole) {
    if (whole <= 0) return std::nullopt;
    return double(part) / double(whole);
}

// Whether a port's row belongs to the group: the line holds every port, a station its own.
bool Within(const GroupName& group, const GroupName& row) {
    return (group.station.empty() || group.station == row.station) &&
           (group.port.empty() || group.port == row.port);
}

using Histogram = std::map<double, std::int64_t>;  // seconds, how many

// Nearest rank, as value number ceil(p * n) of the n in order: the median is number (n + 1) / 2.
Durations Percentiles(const Histogram& histogram) {
    std::int64_t total = 0;
    for (const auto& [seconds, count] : histogram) total += count;
    Durations durations;
    if (total == 0) return durations;
    const std::int64_t medianRank = (total + 1) / 2, p95Rank = (total * 95 + 99) / 100;
    std::int64_t seen = 0;
    for (const auto& [seconds, count] : histogram) {
        seen += count;
        if (!durations.median && seen >= medianRank) durations.median = seconds;
        if (!durations.p95 && seen >= p95Rank) durations.p95 = seconds;
    }
    return durations;
}

// The ports' rows, counted by the database, summed for a group.
struct PortRows {
    std::vector<TimeCount> boardTimes, stepTimes;
    std::vector<FailureCount> failures;
    std::vector<HourCount> hours;
};

void Fill(GroupFigures& group, const PortRows& rows) {
    Histogram boardTimes;
    for (const TimeCount& time : rows.boardTimes) {
        if (Within(group.name, time.group) && time.seconds >= 0)
            boardTimes[time.seconds] += time.count;
    }
    group.boardTime = Percentiles(boardTimes);
    group.boardTime.group = group.name;

    struct Step {
        std::int64_t runs = 0, failed = 0;
        Histogram succeeded;
    };
    std::map<std::string, Step> steps;
    for (const TimeCount& time : rows.stepTimes) {
        if (!Within(group.name, time.group)) continue;
        Step& step = steps[time.step];
        step.runs += time.count;
        if (!time.ok) step.failed += time.count;
        if (time.ok && time.seconds >= 0) step.succeeded[time.seconds] += time.count;
    }
    for (const auto& [name, step] : steps) {
        const Durations times = Percentiles(step.succeeded);
        group.steps.push_back({group.name, name, step.runs, step.failed, times.median, times.p95});
    }
    std::stable_sort(group.steps.begin(), group.steps.end(), [](const auto& a, const auto& b) {
        return StepRank(a.step) < StepRank(b.step);
    });

    std::map<std::pair<std::string, std::string>, std::int64_t> failures;
    for (const FailureCount& failure : rows.failures) {
        if (Within(group.name, failure.group))
            failures[{failure.step, failure.error}] += failure.count;
    }
    for (const auto& [what, count] : failures) {
        group.failures.push_back({group.name, what.first, what.second, count});
    }
    std::stable_sort(group.failures.begin(), group.failures.end(),
                     [](const auto& a, const auto& b) { return a.count > b.count; });

    std::map<std::string, HourCount> hours;
    for (const HourCount& hour : rows.hours) {
        if (!Within(group.name, hour.group)) continue;
        HourCount& sum = hours[hour.hour];
        sum.group = group.name;
        sum.hour = hour.hour;
        sum.ended += hour.ended;
        sum.passed += hour.passed;
    }
    for (const auto& [name, hour] : hours) group.hours.push_back(hour);
}

std::vector<GroupFigures> ReadLevel(ReportQueries& queries, ReportLevel level,
                                    const PortRows& rows) {
    std::vector<GroupFigures> groups;
    for (const RunCounts& counts : queries.counts(level)) {
        GroupFigures group;
        group.name = counts.group;
        group.counts = counts;
        Fill(group, rows);
        groups.push_back(std::move(group));
    }
    return groups;
}

void MarkSuspects(ReportQueries& queries, const AlertRule& rule, std::vector<GroupFigures>& ports) {
    for (const auto& [station, recent] :
         VerdictsByStation(queries.recentRuns(std::max(rule.of, 1)))) {
        for (const PortAlert& alert : SuspectPorts(recent, rule)) {
            for (GroupFigures& port : ports) {
                if (port.name == GroupName{station, alert.port}) port.suspect = alert;
            }
        }
    }
}

// --- text --------------------------------------------------------------------------------------

std::string Percent(const std::optional<double>& share) {
    return ReportPercent(share, "-");
}

std::string SecondsText(const std::optional<double>& seconds) {
    return ReportSeconds(seconds, "-");
}

std::string Right(const std::string& text, std::size_t width) {
    return text.size() >= width ? " " + text : std::string(width - text.size(), ' ') + text;
}

std::string Left(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

// The table's texts come from the store: escaped, as history escapes them.
std::string GroupTitle(const GroupName& name) {
    if (name.station.empty()) return "line";
    return EscapedLine(name.port.empty() ? name.station : name.station + " " + name.port);
}

std::string TableHeader(const char* first) {
    return Left(first, 16) + Right("RUNS", 6) + Right("BOARDS", 7) + Right("PASS", 6) +
           Right("FAIL", 5) + Right("UNUS", 5) + Right("INT", 4) + Right("RETEST", 7) +
           Right("FPY", 8) + Right("SPY", 8) + Right("LPY", 8) + Right("YIELD", 8) +
           Right("MEDIAN", 8) + Right("P95", 8) + Right("PER H", 7) + "\n";
}

std::string TableRow(const GroupFigures& group) {
    const RunCounts& c = group.counts;
    const auto number = [](std::int64_t n) { return std::to_string(n); };
    return Left(GroupTitle(group.name), 16) + Right(number(c.runs), 6) +
           Right(number(c.boards), 7) + Right(number(c.passed), 6) + Right(number(c.failed), 5) +
           Right(number(c.unusable), 5) + Right(number(c.interrupted + c.unfinished), 4) +
           Right(number(group.retests()), 7) + Right(Percent(group.firstPassYield()), 8) +
           Right(Percent(group.secondPassYield()), 8) + Right(Percent(group.lastPassYield()), 8) +
           Right(Percent(group.yield()), 8) + Right(SecondsText(group.boardTime.median), 8) +
           Right(SecondsText(group.boardTime.p95), 8) +
           Right(group.perHour() ? ReportFigure("%.1f", *group.perHour()) : "-", 7) +
           (group.suspect ? "  SUSPECT" : "") + "\n";
}

std::string StepTable(const GroupFigures& group) {
    std::string text = Left("STEP", 12) + Right("RUNS", 7) + Right("FAILED", 8) +
                       Right("MEDIAN", 9) + Right("P95", 9) + "\n";
    for (const StepFigures& step : group.steps) {
        text += Left(EscapedLine(step.step), 12) + Right(std::to_string(step.runs), 7) +
                Right(std::to_string(step.failed), 8) + Right(SecondsText(step.median), 9) +
                Right(SecondsText(step.p95), 9) + "\n";
    }
    return text;
}

std::string FailureList(const GroupFigures& group, std::size_t most) {
    std::string text;
    for (std::size_t i = 0; i < group.failures.size() && i < most; ++i) {
        const FailureCount& failure = group.failures[i];
        text += Right(std::to_string(failure.count), 6) + "  " +
                Left(failure.step.empty() ? "-" : EscapedLine(failure.step), 10) +
                EscapedLine(failure.error) + "\n";
    }
    if (group.failures.size() > most) {
        text += "        and " + std::to_string(group.failures.size() - most) +
                " other kinds (--json lists them all)\n";
    }
    return text;
}

std::string HourBars(const GroupFigures& group) {
    std::int64_t most = 1;
    for (const HourCount& hour : group.hours) most = std::max(most, hour.ended);
    std::string text;
    for (const HourCount& hour : group.hours) {
        const auto width = std::size_t(hour.ended * 40 / most);
        text += "  " + EscapedLine(LocalHour(hour.hour)) + "  " +
                Right(std::to_string(hour.ended), 5) + "  " + std::string(width, '#') + "\n";
    }
    return text;
}

// --- JSON --------------------------------------------------------------------------------------

Json Nullable(const std::optional<double>& value) {
    return value ? Json(*value) : Json();
}

Json Nullable(const std::string& text) {
    return text.empty() ? Json() : Json(text);
}

Json GroupJson(const GroupFigures& group) {
    const RunCounts& c = group.counts;
    Json json;
    if (!group.name.station.empty()) json["station"] = group.name.station;
    if (!group.name.port.empty()) json["port"] = group.name.port;
    json["runs"] = c.runs;
    json["boards"] = c.boards;
    json["passed"] = c.passed;
    json["failed"] = c.failed;
    json["unusable"] = c.unusable;
    json["interrupted"] = c.interrupted;
    json["unfinished"] = c.unfinished;
    json["boards_passed"] = c.boardsPassed;
    json["yield"] = Nullable(group.yield());
    json["first_pass_yield"] = Nullable(group.firstPassYield());
    json["second_pass_yield"] = Nullable(group.secondPassYield());
    json["last_pass_yield"] = Nullable(group.lastPassYield());
    json["retests"] = group.retests();
    json["board_median_s"] = Nullable(group.boardTime.median);
    json["board_p95_s"] = Nullable(group.boardTime.p95);
    json["per_hour"] = Nullable(group.perHour());
    Json steps = Json::array();
    for (const StepFigures& step : group.steps) {
        steps.push_back({{"step", step.step},
                         {"runs", step.runs},
                         {"failed", step.failed},
                         {"median_s", Nullable(step.median)},
                         {"p95_s", Nullable(step.p95)}});
    }
    json["steps"] = steps;
    Json failures = Json::array();
    for (const FailureCount& failure : group.failures) {
        failures.push_back({{"step", Nullable(failure.step)},
                            {"error", Nullable(failure.error)},
                            {"count", failure.count}});
    }
    json["failures"] = failures;
    Json hours = Json::array();
    for (const HourCount& hour : group.hours) {
        hours.push_back(
            {{"hour", hour.hour + ":00:00Z"}, {"ended", hour.ended}, {"passed", hour.passed}});
    }
    json["hours"] = hours;
    if (!group.name.port.empty()) {
        json["suspect"] = group.suspect.has_value();
        if (group.suspect) {
            json["suspect_step"] = Nullable(group.suspect->step);
            json["suspect_failed"] = group.suspect->failed;
            json["suspect_of"] = group.suspect->of;
        }
    }
    return json;
}

// Golden and known-bad boards, apart from the line's figures.
std::string ReferenceText(const std::vector<ReferenceCount>& boards) {
    if (boards.empty()) return {};
    std::string text = "\nREFERENCE BOARDS, not in the figures above\n" + Left("DIE ID", 20) +
                       Left("KIND", 10) + Right("RUNS", 6) + Right("PASS", 6) + Right("FAIL", 6) +
                       "\n";
    for (const ReferenceCount& board : boards) {
        text += Left(EscapedLine(board.dieId), 20) + Left(board.kind, 10) +
                Right(std::to_string(board.runs), 6) + Right(std::to_string(board.passed), 6) +
                Right(std::to_string(board.failed), 6) + "\n";
    }
    return text;
}

std::string CsvNumber(const std::optional<double>& value) {
    return value ? ReportFigure("%.4f", *value) : "";
}

}  // namespace

std::string ReportFigure(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string ReportPercent(const std::optional<double>& share, const char* none) {
    return share ? ReportFigure("%.1f %%", *share * 100) : none;
}

std::string ReportSeconds(const std::optional<double>& seconds, const char* none) {
    return seconds ? ReportFigure("%.1f s", *seconds) : none;
}

std::optional<double> GroupFigures::secondPassYield() const {
    return Share(counts.secondRunsPassed, counts.firstRunsJudged);
}

std::optional<double> GroupFigures::lastPassYield() const {
    return Share(counts.lastRunsPassed, counts.lastRunsJudged);
}

std::optional<double> GroupFigures::yield() const {
    return Share(counts.boardsPassed, counts.boards);
}

std::optional<double> GroupFigures::firstPassYield() const {
    return Share(counts.firstRunsPassed, counts.firstRunsJudged);
}

std::optional<double> GroupFigures::perHour() const {
    std::int64_t ended = 0;
    for (const HourCount& hour : hours) ended += hour.ended;
    if (hours.empty()) return std::nullopt;
    return double(ended) / double(hours.size());
}

std::string GroupFigures::topFailedStep() const {
    const StepFigures* top = nullptr;
    for (const StepFigures& step : steps) {
        if (step.failed > 0 && (!top || step.failed > top->failed)) top = &step;
    }
    return top ? top->step : std::string();
}

LineReport ReadLineReport(ReportQueries& queries, const ReportFilter& filter,
                          const AlertRule& rule) {
    LineReport report;
    report.filter = filter;
    report.rule = rule;
    // The times, failures and hours once, by port; the boards' counts at each level, since a
    // board may have run at several ports.
    const PortRows rows{queries.boardTimes(), queries.stepTimes(),
                        queries.failures(ReportLevel::Port), queries.hours(ReportLevel::Port)};
    auto line = ReadLevel(queries, ReportLevel::Line, rows);
    if (!line.empty()) report.line = std::move(line.front());
    report.stations = ReadLevel(queries, ReportLevel::Station, rows);
    report.ports = ReadLevel(queries, ReportLevel::Port, rows);
    MarkSuspects(queries, rule, report.ports);
    report.leftOut = queries.damagedRuns();
    report.referenceBoards = queries.referenceBoards();
    return report;
}

std::string LocalHour(const std::string& utcHour) {
    std::tm utc{};
    if (std::sscanf(utcHour.c_str(), "%d-%d-%dT%d", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                    &utc.tm_hour) != 4) {
        return utcHour;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const std::time_t time = timegm(&utc);
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string LineReportText(const LineReport& report) {
    std::string text = "K-350 line report, " + EscapedLine(report.periodText) + "\n\n";
    if (report.line.counts.runs == 0) {
        return text + "No runs in this period.\n" + ReferenceText(report.referenceBoards);
    }
    text += TableHeader("") + TableRow(report.line);
    text += "\n" + TableHeader("STATION");
    for (const GroupFigures& station : report.stations) text += TableRow(station);
    text += "\n" + TableHeader("PORT");
    for (const GroupFigures& port : report.ports) text += TableRow(port);
    text += "\n" + StepTable(report.line);
    if (!report.line.failures.empty()) {
        text += "\nFAILURES, most frequent first\n" + FailureList(report.line, 10);
    }
    text += "\nBOARDS ENDED PER HOUR\n" + HourBars(report.line);
    bool suspects = false;
    for (const GroupFigures& port : report.ports) {
        if (!port.suspect) continue;
        if (!suspects) text += "\nSUSPECT PORTS\n";
        suspects = true;
        text += "  " + EscapedLine(port.name.station) + ": " +
                EscapedLine(AlertMessage(*port.suspect)) + "\n";
    }
    if (const std::string capability = CapabilityText(report.measured); !capability.empty()) {
        text += "\n" + capability;
    }
    text += ReferenceText(report.referenceBoards);
    text +=
        "\nUNUS: unusable. INT: interrupted or unfinished. RETEST: runs after a board's "
        "first.\nFPY: first-pass yield, the boards whose first run passed. SPY: second-pass, "
        "passed by their second run. LPY: last-pass, the boards whose latest run passed. YIELD: "
        "the boards that passed at all.\nMEDIAN, P95: a passed board's time. PER H: boards ended "
        "per hour "
        "worked.\n";
    return text;
}

std::string LineReportJson(const LineReport& report) {
    Json json;
    json["since"] = report.filter.since;
    json["until"] = report.filter.until;
    json["station"] = Nullable(report.filter.station);
    json["port"] = Nullable(report.filter.port);
    json["recipe"] = Nullable(report.filter.recipe);
    json["lot"] = Nullable(report.filter.lot);
    json["image"] = Nullable(report.filter.image);
    json["version"] = Nullable(report.filter.version);
    json["alert_failures"] = report.rule.failures;
    json["alert_of"] = report.rule.of;
    json["line"] = GroupJson(report.line);
    Json stations = Json::array(), ports = Json::array(), suspects = Json::array();
    for (const GroupFigures& station : report.stations) stations.push_back(GroupJson(station));
    for (const GroupFigures& port : report.ports) {
        ports.push_back(GroupJson(port));
        if (port.suspect) {
            suspects.push_back({{"station", port.name.station},
                                {"port", port.name.port},
                                {"step", Nullable(port.suspect->step)},
                                {"failed", port.suspect->failed},
                                {"of", port.suspect->of},
                                {"message", AlertMessage(*port.suspect)}});
        }
    }
    json["stations"] = stations;
    json["ports"] = ports;
    json["suspects"] = suspects;
    json["capability"] = CapabilityJson(report.measured);
    Json reference = Json::array();
    for (const ReferenceCount& board : report.referenceBoards) {
        reference.push_back({{"die_id", board.dieId},
                             {"kind", board.kind},
                             {"runs", board.runs},
                             {"passed", board.passed},
                             {"failed", board.failed}});
    }
    json["reference_boards"] = reference;
    json["drifts"] = DriftJson(report.measured);
    return JsonText(json) + "\n";
}

std::string LineReportCsv(const LineReport& report) {
    std::string csv =
        "level,station,port,runs,boards,passed,failed,unusable,interrupted,unfinished,"
        "boards_passed,yield,first_pass_yield,second_pass_yield,last_pass_yield,retests,board_"
        "median_s,board_p95_s,per_hour,"
        "top_failed_step,suspect\n";
    const auto row = [&](const char* level, const GroupFigures& group) {
        const RunCounts& c = group.counts;
        std::string line = std::string(level) + "," + CsvField(group.name.station) + "," +
                           CsvField(group.name.port);
        for (std::int64_t n : {c.runs, c.boards, c.passed, c.failed, c.unusable, c.interrupted,
                               c.unfinished, c.boardsPassed}) {
            line += "," + std::to_string(n);
        }
        line += "," + CsvNumber(group.yield()) + "," + CsvNumber(group.firstPassYield()) + "," +
                CsvNumber(group.secondPassYield()) + "," + CsvNumber(group.lastPassYield()) + "," +
                std::to_string(group.retests()) + "," + CsvNumber(group.boardTime.median) + "," +
                CsvNumber(group.boardTime.p95) + "," + CsvNumber(group.perHour()) + "," +
                CsvField(group.topFailedStep()) + "," + (group.suspect ? "yes" : "") + "\n";
        csv += line;
    };
    row("line", report.line);
    for (const GroupFigures& station : report.stations) row("station", station);
    for (const GroupFigures& port : report.ports) row("port", port);
    // The measurements' capability as a table of its own after a blank line, when there are any.
    if (!report.measured.capability.empty()) csv += "\n" + CapabilityCsv(report.measured);
    // The reference boards likewise: their runs are in no row above.
    if (!report.referenceBoards.empty()) {
        csv += "\nreference_die_id,kind,runs,passed,failed\n";
        for (const ReferenceCount& board : report.referenceBoards) {
            csv += CsvField(board.dieId) + "," + CsvField(board.kind) + "," +
                   std::to_string(board.runs) + "," + std::to_string(board.passed) + "," +
                   std::to_string(board.failed) + "\n";
        }
    }
    return csv;
}
