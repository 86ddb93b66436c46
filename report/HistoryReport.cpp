#include "report/HistoryReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "store/MeasurementJson.h"
#include "store/RunJson.h"
#include "store/StoreText.h"

namespace {

std::string Figure(const std::optional<double>& value) {
    if (!value) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", *value);
    return text;
}

const std::vector<std::string> kColumns{"id",
                                        "serial",
                                        "die_id",
                                        "chip_id",
                                        "station",
                                        "port",
                                        "recipe",
                                        "image_sha256",
                                        "config_sha256",
                                        "recipe_sha256",
                                        "program_version",
                                        "operator",
                                        "lot",
                                        "started_at",
                                        "finished_at",
                                        "result",
                                        "failed_step",
                                        "error",
                                        "steps",
                                        "soak_erroneous_percent",
                                        "soak_lost_percent",
                                        "soak_jitter_ms",
                                        "hook",
                                        "hook_status",
                                        "measurements"};

std::vector<std::string> Values(const RunRecord& run) {
    return {std::to_string(run.id),
            run.serial,
            run.dieId,
            run.chipId,
            run.station,
            run.port,
            run.recipe,
            run.imageSha256,
            run.configSha256,
            run.recipeSha256,
            run.programVersion,
            run.operatorName,
            run.lot,
            run.startedAt,
            run.finishedAt,
            run.result,
            run.failedStep,
            run.error,
            run.steps,
            Figure(run.soakErroneousPercent),
            Figure(run.soakLostPercent),
            Figure(run.soakJitterMs),
            run.hook,
            run.hookStatus,
            MeasurementsJson(run.measurements).dump()};
}

std::string TextLine(const RunRecord& run) {
    std::string line = EscapedLine(run.startedAt) + "  " +
                       (run.serial.empty() ? "----" : EscapedLine(run.serial)) + "  " +
                       EscapedLine(run.dieId) + "  " + EscapedLine(run.station) + " " +
                       EscapedLine(run.port) + "  " + EscapedLine(run.result);
    if (!run.failedStep.empty()) {
        line += " at " + EscapedLine(run.failedStep) + ": " + EscapedLine(run.error);
    }
    line += "  recipe " + EscapedLine(run.recipe);
    if (!run.imageSha256.empty()) line += "  image " + EscapedLine(run.imageSha256.substr(0, 12));
    if (!run.configSha256.empty())
        line += "  config " + EscapedLine(run.configSha256.substr(0, 12));
    if (!run.lot.empty()) line += "  lot " + EscapedLine(run.lot);
    if (!run.operatorName.empty()) line += "  operator " + EscapedLine(run.operatorName);
    if (!run.hook.empty()) {
        line += "  hook " + EscapedLine(run.hook) + ": " + EscapedLine(run.hookStatus);
    }
    return line;
}

}  // namespace

std::string HistoryReport(const std::vector<RunRecord>& runs, HistoryFormat format) {
    std::string out;
    if (format == HistoryFormat::Csv) {
        for (std::size_t i = 0; i < kColumns.size(); ++i) out += (i ? "," : "") + kColumns[i];
        out += "\n";
    }
    for (const RunRecord& run : runs) {
        switch (format) {
            case HistoryFormat::Json:
                out += RunJsonLine(run) + "\n";
                break;
            case HistoryFormat::Csv: {
                const auto values = Values(run);
                for (std::size_t i = 0; i < values.size(); ++i) {
                    out += (i ? "," : "") + CsvField(values[i]);
                }
                out += "\n";
                break;
            }
            case HistoryFormat::Text:
                out += TextLine(run) + "\n";
                break;
        }
    }
    return out;
}

std::string NormalizedSerial(const std::string& serial) {
    if (serial.empty() || serial.size() > 4 ||
        !std::all_of(serial.begin(), serial.end(),
                     [](unsigned char c) { return std::isalnum(c) && c < 0x80; })) {
        return serial;
    }
    std::string normal = std::string(4 - serial.size(), '0') + serial;
    for (char& c : normal) c = char(std::toupper(static_cast<unsigned char>(c)));
    return normal;
}
