#include "report/LineReportPage.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

constexpr const char* kGood = "#2e7d32";
constexpr const char* kFair = "#ef8f00";
constexpr const char* kBad = "#c62828";
constexpr const char* kTrack = "#e8eaed";
// Below this yield a bar is drawn as a warning.
constexpr double kFairYield = 0.95, kPoorYield = 0.85;

constexpr const char* kStyle = R"(
:root { color-scheme: light; }
* { box-sizing: border-box; }
body { margin: 0; padding: 28px 36px; font: 14px/1.4 "DejaVu Sans", "Liberation Sans", Arial,
  sans-serif; color: #202124; background: #fff; -webkit-print-color-adjust: exact;
  print-color-adjust: exact; }
main { max-width: 1120px; margin: 0 auto; }
h1 { font-size: 26px; margin: 0; }
h2 { font-size: 17px; margin: 28px 0 10px; border-bottom: 2px solid #202124; padding-bottom: 4px; }
h3 { font-size: 14px; margin: 0 0 6px; }
.period { color: #5f6368; margin: 4px 0 18px; }
.tiles { display: grid; grid-template-columns: repeat(6, 1fr); gap: 10px; }
.tile { border: 1px solid #dadce0; border-radius: 6px; padding: 10px 12px; }
.tile b { display: block; font-size: 24px; }
.tile span { color: #5f6368; font-size: 12px; }
.alert { margin: 16px 0 0; padding: 10px 14px; border-left: 6px solid #c62828;
  background: #fdecea; }
.alert p { margin: 4px 0; }
.charts { display: grid; grid-template-columns: 1fr 1fr; gap: 16px; margin-top: 18px;
  align-items: start; }
.column { display: grid; gap: 16px; }
.chart { border: 1px solid #dadce0; border-radius: 6px; padding: 12px 14px; break-inside: avoid; }
.chart svg { width: 100%; height: auto; display: block; }
.chart .pair { display: grid; grid-template-columns: 3fr 2fr; gap: 12px; }
.chart .control-chart text { font-size: 9px; }
.measurements { display: grid; grid-template-columns: 1fr; gap: 16px; }
.measurements .alert { margin: 0; }
.chart .none { color: #5f6368; }
svg text { font: 12px "DejaVu Sans", "Liberation Sans", Arial, sans-serif; fill: #202124; }
svg .value { font-weight: bold; }
svg .axis { fill: #5f6368; font-size: 11px; }
table { border-collapse: collapse; width: 100%; font-size: 13px; break-inside: auto; }
th, td { padding: 4px 8px; border-bottom: 1px solid #e0e0e0; text-align: right; }
th { background: #f1f3f4; font-weight: 600; }
th:first-child, td:first-child, td.text { text-align: left; }
tr.suspect td { background: #fdecea; font-weight: bold; }
td.error { text-align: left; font-family: "DejaVu Sans Mono", monospace; font-size: 12px; }
.legend { color: #5f6368; font-size: 12px; margin-top: 6px; }
.swatch { display: inline-block; width: 10px; height: 10px; margin: 0 4px 0 10px; }
footer { margin-top: 28px; color: #5f6368; font-size: 12px; }
@media (max-width: 700px) {
  .tiles { grid-template-columns: repeat(2, 1fr); }
  .charts, .chart .pair { grid-template-columns: 1fr; }
  table { display: block; overflow-x: auto; white-space: nowrap; }
}
@media print {
  body { padding: 0; font-size: 12px; }
  .charts { grid-template-columns: 1fr 1fr; }
  h2 { break-after: avoid; }
}
)";

std::string Percent(const std::optional<double>& share) {
    return ReportPercent(share, "–");
}

std::string SecondsText(const std::optional<double>& seconds) {
    return ReportSeconds(seconds, "–");
}

std::string Number(double value) {
    return ReportFigure("%.0f", value);
}

const char* YieldColour(double share) {
    return share >= kFairYield ? kGood : share >= kPoorYield ? kFair : kBad;
}

struct Bar {
    std::string label;
    double value = 0;  // 0 to scale
    std::string valueText;
    const char* colour = kGood;
    std::string tooltip;
};

// Bars across, one per row, each on a track that shows the whole scale.
std::string HorizontalBars(const std::vector<Bar>& bars, double scale) {
    constexpr int kRow = 24, kLabel = 168, kTrackWidth = 300, kWidth = 580;
    const int height = int(bars.size()) * kRow + 4;
    std::string svg = "<svg viewBox=\"0 0 " + std::to_string(kWidth) + " " +
                      std::to_string(height) + "\" role=\"img\">";
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        const int y = int(i) * kRow + 2;
        const double width = scale > 0 ? std::clamp(bar.value / scale, 0.0, 1.0) * kTrackWidth : 0;
        svg +=
            "<g><title>" + HtmlEscaped(bar.tooltip.empty() ? bar.label : bar.tooltip) + "</title>";
        svg += "<text x=\"" + std::to_string(kLabel - 8) + "\" y=\"" + std::to_string(y + 15) +
               "\" text-anchor=\"end\">" + HtmlEscaped(bar.label) + "</text>";
        svg += "<rect x=\"" + std::to_string(kLabel) + "\" y=\"" + std::to_string(y + 3) +
               "\" width=\"" + std::to_string(kTrackWidth) + "\" height=\"16\" fill=\"" + kTrack +
               "\"/>";
        svg += "<rect x=\"" + std::to_string(kLabel) + "\" y=\"" + std::to_string(y + 3) +
               "\" width=\"" + ReportFigure("%.1f", width) + "\" height=\"16\" fill=\"" +
               bar.colour + "\"/>";
        svg += "<text class=\"value\" x=\"" + std::to_string(kLabel + kTrackWidth + 8) + "\" y=\"" +
               std::to_string(y + 15) + "\">" + HtmlEscaped(bar.valueText) + "</text></g>";
    }
    return svg + "</svg>";
}

struct Column {
    std::string label;
    std::int64_t passed = 0, other = 0;
};

// The scale's top: the least of 4, 8, 12 ... 80 times a power of ten that is at least `value`,
// so each of its four ticks is a whole number.
std::int64_t RoundScale(std::int64_t value) {
    for (std::int64_t power = 1;; power *= 10) {
        for (std::int64_t top : {4, 8, 12, 16, 20, 24, 32, 40, 60, 80}) {
            if (top * power >= value) return top * power;
        }
    }
}

// Columns of boards ended, passed below and the rest above, with a scale at the left.
std::string StackedColumns(const std::vector<Column>& columns) {
    constexpr int kLeft = 34, kTop = 10, kPlot = 170, kWidth = 580, kBottom = 36;
    std::int64_t most = 1;
    for (const Column& column : columns) most = std::max(most, column.passed + column.other);
    most = RoundScale(most);
    const double step =
        double(kWidth - kLeft - 4) / double(std::max<std::size_t>(columns.size(), 1));
    const double barWidth = std::max(2.0, step * 0.72);
    const int height = kTop + kPlot + kBottom;
    std::string svg = "<svg viewBox=\"0 0 " + std::to_string(kWidth) + " " +
                      std::to_string(height) + "\" role=\"img\">";
    for (int tick = 0; tick <= 4; ++tick) {
        const double y = kTop + kPlot - double(kPlot) * tick / 4;
        svg += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(kWidth) +
               "\" y1=\"" + ReportFigure("%.1f", y) + "\" y2=\"" + ReportFigure("%.1f", y) +
               "\" stroke=\"#e0e0e0\"/>";
        svg += "<text class=\"axis\" x=\"" + std::to_string(kLeft - 6) + "\" y=\"" +
               ReportFigure("%.1f", y + 4) + "\" text-anchor=\"end\">" +
               Number(double(most) * tick / 4) + "</text>";
    }
    const std::size_t labelEvery = std::max<std::size_t>(1, columns.size() / 12);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& column = columns[i];
        const double x = kLeft + 2 + step * double(i) + (step - barWidth) / 2;
        const double passedHeight = double(kPlot) * double(column.passed) / double(most);
        const double otherHeight = double(kPlot) * double(column.other) / double(most);
        const double base = kTop + kPlot;
        svg += "<g><title>" + HtmlEscaped(column.label) + ": " + std::to_string(column.passed) +
               " passed, " + std::to_string(column.other) + " not</title>";
        svg += "<rect x=\"" + ReportFigure("%.1f", x) + "\" y=\"" +
               ReportFigure("%.1f", base - passedHeight) + "\" width=\"" +
               ReportFigure("%.1f", barWidth) + "\" height=\"" +
               ReportFigure("%.1f", passedHeight) + "\" fill=\"" + kGood + "\"/>";
        svg += "<rect x=\"" + ReportFigure("%.1f", x) + "\" y=\"" +
               ReportFigure("%.1f", base - passedHeight - otherHeight) + "\" width=\"" +
               ReportFigure("%.1f", barWidth) + "\" height=\"" + ReportFigure("%.1f", otherHeight) +
               "\" fill=\"" + kBad + "\"/></g>";
        if (i % labelEvery == 0) {
            svg += "<text class=\"axis\" x=\"" + ReportFigure("%.1f", x + barWidth / 2) +
                   "\" y=\"" + std::to_string(kTop + kPlot + 16) + "\" text-anchor=\"middle\">" +
                   HtmlEscaped(column.label) + "</text>";
        }
    }
    return svg + "</svg>";
}

std::string GroupLabel(const GroupName& name) {
    return name.port.empty() ? name.station : name.station + " " + name.port;
}

std::vector<Bar> YieldBars(const std::vector<GroupFigures>& groups) {
    std::vector<Bar> bars;
    for (const GroupFigures& group : groups) {
        const auto yield = group.firstPassYield();
        if (!yield) continue;
        Bar bar{GroupLabel(group.name), *yield, Percent(yield), YieldColour(*yield), {}};
        if (group.suspect) {
            bar.colour = kBad;
            bar.valueText += "  suspect";
        }
        bar.tooltip = bar.label + ": " + std::to_string(group.counts.firstRunsPassed) + " of " +
                      std::to_string(group.counts.firstRunsJudged) + " boards passed first time";
        bars.push_back(bar);
    }
    return bars;
}

// Hours when the period has few of them, days otherwise, so the columns stay readable.
std::vector<Column> ThroughputColumns(const GroupFigures& line, bool& byDay) {
    byDay = line.hours.size() > 36;
    std::map<std::string, Column> buckets;
    for (const HourCount& hour : line.hours) {
        const std::string local = LocalHour(hour.hour);  // "2026-12-09 13:00"
        const std::string key = byDay ? local.substr(0, 10) : local;
        Column& column = buckets[key];
        column.label = byDay ? local.substr(5, 5) : local.substr(11, 2);
        column.passed += hour.passed;
        column.other += hour.ended - hour.passed;
    }
    std::vector<Column> columns;
    for (auto& [key, column] : buckets) columns.push_back(column);
    return columns;
}

std::vector<Bar> FailureBars(const GroupFigures& line, double& most) {
    std::vector<Bar> bars;
    most = 0;
    for (const StepFigures& step : line.steps) {
        if (step.failed == 0) continue;
        bars.push_back({step.step, double(step.failed),
                        std::to_string(step.failed) + " of " + std::to_string(step.runs), kBad,
                        step.step + ": " + std::to_string(step.failed) + " failed of " +
                            std::to_string(step.runs)});
        most = std::max(most, double(step.failed));
    }
    std::stable_sort(bars.begin(), bars.end(),
                     [](const Bar& a, const Bar& b) { return a.value > b.value; });
    return bars;
}

std::string Chart(const std::string& title, const std::string& body) {
    return "<div class=\"chart\"><h3>" + HtmlEscaped(title) + "</h3>" +
           (body.empty() ? "<p class=\"none\">No runs with a verdict.</p>" : body) + "</div>";
}

std::string Tile(const std::string& value, const std::string& what) {
    return "<div class=\"tile\"><b>" + HtmlEscaped(value) + "</b><span>" + HtmlEscaped(what) +
           "</span></div>";
}

std::string Cell(const std::string& text, const char* cssClass = nullptr) {
    return std::string("<td") + (cssClass ? std::string(" class=\"") + cssClass + "\"" : "") + ">" +
           HtmlEscaped(text) + "</td>";
}

std::string GroupTable(const std::vector<GroupFigures>& groups, const char* first) {
    std::string html = std::string("<table><tr><th>") + first +
                       "</th><th>Runs</th><th>Boards</th><th>Passed</th><th>Failed</th>"
                       "<th>Unusable</th><th>Interrupted</th><th>Retests</th><th>First-pass "
                       "yield</th><th>Second-pass yield</th><th>Last-pass "
                       "yield</th><th>Yield</th><th>Median</th><th>95 %</th><th>Per hour</th>"
                       "</tr>";
    for (const GroupFigures& group : groups) {
        const RunCounts& c = group.counts;
        html += group.suspect ? "<tr class=\"suspect\">" : "<tr>";
        html += Cell(GroupLabel(group.name) + (group.suspect ? "  (suspect)" : ""));
        for (std::int64_t n : {c.runs, c.boards, c.passed, c.failed, c.unusable,
                               c.interrupted + c.unfinished, group.retests()}) {
            html += Cell(std::to_string(n));
        }
        html += Cell(Percent(group.firstPassYield())) + Cell(Percent(group.secondPassYield())) +
                Cell(Percent(group.lastPassYield())) + Cell(Percent(group.yield())) +
                Cell(SecondsText(group.boardTime.median)) + Cell(SecondsText(group.boardTime.p95)) +
                Cell(group.perHour() ? ReportFigure("%.1f", *group.perHour()) : "–") + "</tr>";
    }
    return html + "</table>";
}

std::string StepTable(const GroupFigures& line) {
    std::string html =
        "<table><tr><th>Step</th><th>Runs</th><th>Failed</th><th>Median</th><th>95 %</th></tr>";
    for (const StepFigures& step : line.steps) {
        html += "<tr>" + Cell(step.step) + Cell(std::to_string(step.runs)) +
                Cell(std::to_string(step.failed)) + Cell(SecondsText(step.median)) +
                Cell(SecondsText(step.p95)) + "</tr>";
    }
    return html + "</table>";
}

std::string FailureTable(const GroupFigures& line) {
    constexpr std::size_t kMost = 15;
    std::string html = "<table><tr><th>Count</th><th>Step</th><th>Error</th></tr>";
    for (std::size_t i = 0; i < line.failures.size() && i < kMost; ++i) {
        const FailureCount& failure = line.failures[i];
        html += "<tr>" + Cell(std::to_string(failure.count)) +
                Cell(failure.step.empty() ? "–" : failure.step, "text") +
                Cell(failure.error, "error") + "</tr>";
    }
    html += "</table>";
    if (line.failures.size() > kMost) {
        html += "<p class=\"legend\">And " + std::to_string(line.failures.size() - kMost) +
                " rarer kinds; <code>k350ctl report --json</code> lists them all.</p>";
    }
    return html;
}

std::string Filter(const ReportFilter& filter) {
    std::string text;
    if (!filter.station.empty()) text += " · station " + filter.station;
    if (!filter.port.empty()) text += " · port " + filter.port;
    if (!filter.recipe.empty()) text += " · recipe " + filter.recipe;
    if (!filter.lot.empty()) text += " · lot " + filter.lot;
    if (!filter.image.empty()) text += " · image " + filter.image;
    if (!filter.version.empty()) text += " · k350ctl " + filter.version;
    return text;
}

// Golden and known-bad boards, whose runs are in none of the figures.
std::string ReferenceTable(const std::vector<ReferenceCount>& boards) {
    if (boards.empty()) return {};
    std::string html =
        "<h2>Reference boards</h2><p class=\"legend\">Golden units and known-bad samples; their "
        "runs are in none of the figures above.</p><table><tr><th>Die ID</th><th>Kind</th>"
        "<th>Runs</th><th>Passed</th><th>Failed</th></tr>";
    for (const ReferenceCount& board : boards) {
        html += "<tr>" + Cell(board.dieId, "text") + Cell(board.kind, "text") +
                Cell(std::to_string(board.runs)) + Cell(std::to_string(board.passed)) +
                Cell(std::to_string(board.failed)) + "</tr>";
    }
    return html + "</table>";
}

// The ports whose series drift, then each measurement, weakest first: its figures, its
// individuals chart and its histogram.
std::string MeasurementCharts(const CapabilityFigures& measured) {
    if (measured.capability.empty()) return {};
    // The drifting ports first, one line each: what a supervisor acts on, before the charts.
    std::string html =
        "<h2 id=\"measurements\">Measurements, weakest first</h2><div class=\"measurements\">";
    std::map<std::pair<std::string, std::string>, std::string> byPort;
    for (const PortDrift& drift : measured.drifts) {
        std::string& line = byPort[{drift.port.station, drift.port.port}];
        line += std::string(line.empty() ? "" : ", ") + HtmlEscaped(drift.name) + " (" +
                DriftRuleName(drift.finding.rule) + ")";
    }
    if (!byPort.empty()) {
        html += "<div class=\"alert drift\">";
        for (const auto& [port, line] : byPort) {
            html += "<p><b>Drift at " + HtmlEscaped(port.first) + " " + HtmlEscaped(port.second) +
                    "</b>: " + line + "</p>";
        }
        html += "</div>";
    }
    for (const Capability& capability : measured.capability) {
        const MeasurementSeries* series = measured.seriesNamed(capability.name);
        if (!series) continue;
        const auto shown = [](const std::optional<double>& value) {
            return value ? ReportFigure("%.3g", *value) : std::string("-");
        };
        html += "<div class=\"chart\"><h3>" + HtmlEscaped(capability.name) + " (" +
                HtmlEscaped(capability.unit) + ")</h3><p>" + std::to_string(capability.count) +
                " values, mean " + ReportFigure("%.4g", capability.mean) + ", Cpk " +
                shown(capability.cpk) + ", Ppk " + shown(capability.ppk) + ", " +
                std::to_string(capability.marginal) + " marginal, " +
                std::to_string(capability.failed) + " failed</p>" +
                CapabilitySvg(capability, *series) + "</div>";
    }
    return html + "</div>";
}

}  // namespace

std::string HtmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string LineReportPage(const LineReport& report) {
    const GroupFigures& line = report.line;
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">";
    html += "<title>K-350 line report, " + HtmlEscaped(report.periodText) + "</title>";
    html += std::string("<style>") + kStyle + "</style></head><body><main>";
    html += "<h1>K-350 line report</h1><p class=\"period\">" +
            HtmlEscaped(report.periodText + Filter(report.filter)) + "</p>";
    html += "<div class=\"tiles\">" + Tile(std::to_string(line.counts.boards), "boards seen") +
            Tile(std::to_string(line.counts.boardsPassed), "boards passed") +
            Tile(Percent(line.firstPassYield()), "first-pass yield") +
            Tile(Percent(line.secondPassYield()), "second-pass yield") +
            Tile(Percent(line.lastPassYield()), "last-pass yield") +
            Tile(std::to_string(line.retests()), "retests") +
            Tile(SecondsText(line.boardTime.median), "median time of a board") +
            Tile(line.perHour() ? ReportFigure("%.1f", *line.perHour()) : "–", "boards per hour") +
            "</div>";
    std::string alerts;
    for (const GroupFigures& port : report.ports) {
        if (port.suspect) {
            alerts += "<p><b>" + HtmlEscaped(port.name.station) +
                      "</b>: " + HtmlEscaped(AlertMessage(*port.suspect)) + "</p>";
        }
    }
    if (!alerts.empty()) html += "<div class=\"alert\"><h3>Suspect ports</h3>" + alerts + "</div>";

    const auto stationBars = YieldBars(report.stations);
    const auto portBars = YieldBars(report.ports);
    bool byDay = false;
    const auto columns = ThroughputColumns(line, byDay);
    double mostFailures = 0;
    const auto failureBars = FailureBars(line, mostFailures);
    // Two columns, the short charts left and the long list of ports right, so neither leaves a
    // hole.
    html += "<div class=\"charts\"><div class=\"column\">";
    html += Chart("First-pass yield per bench",
                  stationBars.empty() ? "" : HorizontalBars(stationBars, 1));
    html += Chart(byDay ? "Boards per day" : "Boards per hour",
                  columns.empty() ? ""
                                  : StackedColumns(columns) +
                                        "<p class=\"legend\"><span class=\"swatch\" "
                                        "style=\"background:#2e7d32\"></span>passed<span "
                                        "class=\"swatch\" style=\"background:#c62828\"></span>"
                                        "failed or unusable</p>");
    html += "</div><div class=\"column\">";
    html += Chart("First-pass yield per port", portBars.empty() ? "" : HorizontalBars(portBars, 1));
    html +=
        Chart("Failures by step", failureBars.empty() ? "<p class=\"none\">No step failed.</p>"
                                                      : HorizontalBars(failureBars, mostFailures));
    html += "</div></div>";
    if (line.counts.runs > 0) {
        html += "<h2>Benches</h2>" + GroupTable(report.stations, "Station");
        html += "<h2>Ports</h2>" + GroupTable(report.ports, "Port");
        html += "<h2>Steps</h2>" + StepTable(line);
        if (!line.failures.empty()) {
            html += "<h2>Failures, most frequent first</h2>" + FailureTable(line);
        }
        html += MeasurementCharts(report.measured);
    } else {
        html += "<h2>No runs in this period</h2>";
    }
    html += ReferenceTable(report.referenceBoards);
    html +=
        "<footer>First-pass yield: the boards whose first run in the period passed; second-pass: "
        "passed by their second run; last-pass: the boards whose latest run passed. Yield: "
        "the boards that passed at all. Times are a passed board's (median and 95th "
        "percentile). Made by k350ctl report " K350_VERSION ".</footer>";
    return html + "</main></body></html>\n";
}
