#include "report/CapabilityReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace {

using Json = nlohmann::ordered_json;

Json Nullable(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? Json(*value) : Json();
}

std::string Shown(const std::optional<double>& value, const char* pattern = "%.4g") {
    if (!value || !std::isfinite(*value)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, pattern, *value);
    return text;
}

std::string Right(const std::string& text, std::size_t width) {
    return text.size() >= width ? " " + text : std::string(width - text.size(), ' ') + text;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string CsvNumber(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? ValueText(*value) : std::string();
}

std::string XmlText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '&':
                escaped += "&amp;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string PortText(const GroupName& port) {
    return port.station + " " + port.port;
}

// Each port's values of one series, in run order, and the rule its latest value completes: the
// port as it is now, as the station judges it after each board.
void AddDrifts(const MeasurementSeries& series, std::vector<PortDrift>& drifts) {
    std::map<std::pair<std::string, std::string>, std::vector<double>> byPort;
    for (std::size_t i = 0; i < series.values.size() && i < series.ports.size(); ++i) {
        byPort[{series.ports[i].station, series.ports[i].port}].push_back(series.values[i]);
    }
    for (const auto& [port, values] : byPort) {
        if (auto found = DriftAtEnd(values)) {
            drifts.push_back({{port.first, port.second}, series.name, std::move(*found)});
        }
    }
}

// How many of a measurement's latest values its chart shows and its ports' drift is judged by.
constexpr int kChartValues = 3000;

// --- the chart's drawing ---
constexpr double kWidth = 420, kHeight = 150, kMargin = 8;
// The control chart's lines end here; their labels stand to the right, clear of the points.
constexpr double kPlotRight = kWidth - 72;

// The opening of a chart of class `kind`: drawn in its own units, scaled by the page to the
// width it has.
std::string SvgOpening(const char* kind, const char* extra = "") {
    return std::string("<svg class=\"") + kind +
           "\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + ValueText(kWidth) + " " +
           ValueText(kHeight) + "\" width=\"" + ValueText(kWidth) + "\" height=\"" +
           ValueText(kHeight) + "\"" + extra +
           "><rect width=\"100%\" height=\"100%\" fill=\"#fff\" stroke=\"#ccc\"/>";
}

struct Scale {
    double low, high;
    double y(double value) const {
        return kMargin + (high - value) / (high - low) * (kHeight - 2 * kMargin);
    }
};

Scale ChartScale(const Capability& capability, const std::optional<ControlLimits>& control) {
    double low = capability.min, high = capability.max;
    for (const auto& line : {capability.low, capability.high}) {
        if (line) low = std::min(low, *line), high = std::max(high, *line);
    }
    if (control) {
        low = std::min(low, control->lower());
        high = std::max(high, control->upper());
    }
    if (high <= low) high = low + 1;
    const double pad = (high - low) * 0.05;
    return {low - pad, high + pad};
}

std::string Line(double y, const char* colour, const char* dash, const std::string& label) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "<line x1=\"0\" x2=\"%.0f\" y1=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"%s/>"
                  "<text x=\"%.0f\" y=\"%.1f\" font-size=\"10\" fill=\"%s\">",
                  kPlotRight, y, y, colour, dash, kPlotRight + 4, y + 3, colour);
    return std::string(text) + XmlText(label) + "</text>";
}

std::string ControlChart(const Capability& capability, const MeasurementSeries& series) {
    const auto control = IndividualsLimits(series.values);
    const Scale scale = ChartScale(capability, control);
    std::string svg = SvgOpening("control-chart");
    if (control) {
        svg += Line(scale.y(control->centre), "#2a7", "", "centre " + Shown(control->centre));
        svg += Line(scale.y(control->upper()), "#e90", " stroke-dasharray=\"4 3\"",
                    "UCL " + Shown(control->upper()));
        svg += Line(scale.y(control->lower()), "#e90", " stroke-dasharray=\"4 3\"",
                    "LCL " + Shown(control->lower()));
    }
    if (capability.high)
        svg += Line(scale.y(*capability.high), "#c00", "", "high " + Shown(capability.high));
    if (capability.low)
        svg += Line(scale.y(*capability.low), "#c00", "", "low " + Shown(capability.low));
    std::string points;
    const std::size_t count = series.values.size();
    for (std::size_t i = 0; i < count; ++i) {
        const double x = count > 1
                             ? kMargin + double(i) * (kPlotRight - 2 * kMargin) / double(count - 1)
                             : kPlotRight / 2;
        char point[48];
        std::snprintf(point, sizeof point, "%.1f,%.1f ", x, scale.y(series.values[i]));
        points += point;
    }
    svg += "<polyline fill=\"none\" stroke=\"#246\" stroke-width=\"1\" points=\"" + points +
           "\"/></svg>";
    return svg;
}

std::string HistogramChart(const Capability& capability, const MeasurementSeries& series) {
    constexpr int kBins = 30;
    const Histogram histogram = HistogramOf(series.values, series.limits, kBins);
    std::string svg = SvgOpening("histogram");
    if (histogram.counts.empty()) return svg + "</svg>";
    const int most =
        std::max(1, *std::max_element(histogram.counts.begin(), histogram.counts.end()));
    const double barWidth = (kWidth - 2 * kMargin) / kBins;
    const auto x = [&](double value) {
        return kMargin +
               (value - histogram.from) / (histogram.width * kBins) * (kWidth - 2 * kMargin);
    };
    for (int bin = 0; bin < kBins; ++bin) {
        const double height = (kHeight - 2 * kMargin) * histogram.counts[std::size_t(bin)] / most;
        char bar[160];
        std::snprintf(bar, sizeof bar,
                      "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#468\"/>",
                      kMargin + bin * barWidth, kHeight - kMargin - height, barWidth - 1, height);
        svg += bar;
    }
    for (const auto& limit : {capability.low, capability.high}) {
        if (!limit) continue;
        char line[128];
        std::snprintf(line, sizeof line,
                      "<line x1=\"%.1f\" x2=\"%.1f\" y1=\"0\" y2=\"%.0f\" stroke=\"#c00\"/>",
                      x(*limit), x(*limit), kHeight);
        svg += line;
    }
    return svg + "</svg>";
}

}  // namespace

const MeasurementSeries* CapabilityFigures::seriesNamed(const std::string& name) const {
    for (const MeasurementSeries& one : series) {
        if (one.name == name) return &one;
    }
    return nullptr;
}

CapabilityFigures CapabilityOfSeries(std::vector<MeasurementSeries> series) {
    CapabilityFigures figures;
    for (const MeasurementSeries& one : series) {
        figures.capability.push_back(CapabilityOf(one));
        AddDrifts(one, figures.drifts);
    }
    figures.capability = WeakestFirst(std::move(figures.capability));
    figures.series = std::move(series);
    return figures;
}

CapabilityFigures ReadCapability(SqlConnection& db, const ReportFilter& filter) {
    CapabilityFigures figures;
    for (const MeasurementSummary& summary : PeriodSummaries(db, filter)) {
        figures.capability.push_back(CapabilityOf(summary));
        MeasurementSeries recent = RecentSeries(db, filter, summary.name, kChartValues);
        AddDrifts(recent, figures.drifts);
        figures.series.push_back(std::move(recent));
    }
    figures.capability = WeakestFirst(std::move(figures.capability));
    return figures;
}

std::string CapabilityText(const CapabilityFigures& figures) {
    if (figures.capability.empty()) return "";
    std::size_t width = 30;  // the name column, wide enough for the longest name
    for (const Capability& c : figures.capability) {
        width = std::max(width, c.name.size() + c.unit.size() + 2);
    }
    std::string text = "Capability (weakest first)\n";
    text += std::string(width, ' ') + Right("count", 8) + Right("mean", 10) + Right("s within", 10) +
            Right("s overall", 10) + Right("low", 9) + Right("high", 9) + Right("Cpk", 7) +
            Right("Ppk", 7) + Right("marg", 6) + Right("fail", 6) + "\n";
    for (const Capability& c : figures.capability) {
        std::string name = c.name + " " + c.unit;
        name += std::string(width - name.size(), ' ');
        text += name + Right(std::to_string(c.count), 8) + Right(Shown(c.mean), 10) +
                Right(Shown(c.sigmaWithin), 10) + Right(Shown(c.sigmaOverall), 10) +
                Right(Shown(c.low), 9) + Right(Shown(c.high), 9) + Right(Shown(c.cpk, "%.2f"), 7) +
                Right(Shown(c.ppk, "%.2f"), 7) + Right(std::to_string(c.marginal), 6) +
                Right(std::to_string(c.failed), 6) + "\n";
    }
    for (const PortDrift& drift : figures.drifts) {
        text += "DRIFT port " + PortText(drift.port) + ": " + drift.name + " (" +
                DriftRuleName(drift.finding.rule) + ")\n";
    }
    return text;
}

Json CapabilityJson(const CapabilityFigures& figures) {
    Json list = Json::array();
    for (const Capability& c : figures.capability) {
        list.push_back({{"name", c.name},
                        {"unit", c.unit},
                        {"count", c.count},
                        {"mean", c.count ? Json(c.mean) : Json()},
                        {"sigma_within", Nullable(c.sigmaWithin)},
                        {"sigma_overall", Nullable(c.sigmaOverall)},
                        {"min", c.count ? Json(c.min) : Json()},
                        {"max", c.count ? Json(c.max) : Json()},
                        {"low", Nullable(c.low)},
                        {"high", Nullable(c.high)},
                        {"cp", Nullable(c.cp)},
                        {"cpk", Nullable(c.cpk)},
                        {"pp", Nullable(c.pp)},
                        {"ppk", Nullable(c.ppk)},
                        {"marginal", c.marginal},
                        {"failed", c.failed}});
    }
    return list;
}

Json DriftJson(const CapabilityFigures& figures) {
    Json list = Json::array();
    for (const PortDrift& drift : figures.drifts) {
        list.push_back({{"alert", "drift"},
                        {"station", drift.port.station},
                        {"port", drift.port.port},
                        {"name", drift.name},
                        {"rule", DriftRuleName(drift.finding.rule)},
                        {"values", drift.finding.values}});
    }
    return list;
}

std::string CapabilityCsv(const CapabilityFigures& figures) {
    std::string csv =
        "name,unit,count,mean,sigma_within,sigma_overall,min,max,low,high,cp,cpk,pp,ppk,marginal,"
        "failed\n";
    for (const Capability& c : figures.capability) {
        const bool any = c.count > 0;
        for (const std::string& field :
             {CsvField(c.name), CsvField(c.unit), std::to_string(c.count),
              any ? ValueText(c.mean) : "", CsvNumber(c.sigmaWithin), CsvNumber(c.sigmaOverall),
              any ? ValueText(c.min) : "", any ? ValueText(c.max) : "", CsvNumber(c.low),
              CsvNumber(c.high), CsvNumber(c.cp), CsvNumber(c.cpk), CsvNumber(c.pp),
              CsvNumber(c.ppk), std::to_string(c.marginal)}) {
            csv += field + ",";
        }
        csv += std::to_string(c.failed) + "\n";
    }
    return csv;
}

std::string CapabilitySvg(const Capability& capability, const MeasurementSeries& series) {
    return "<div class=\"pair\">" + ControlChart(capability, series) +
           HistogramChart(capability, series) + "</div>";
}

std::string MeasurementsLongCsv(const std::vector<SqlRow>& rows) {
    std::string csv =
        "run_id,serial,die_id,station,port,started_at,name,value,unit,low,high,outcome\n";
    for (const SqlRow& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            csv += (i ? "," : "") + CsvField(row[i].value_or(""));
        }
        csv += "\n";
    }
    return csv;
}
