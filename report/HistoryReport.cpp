#include "report/HistoryReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "store/MeasurementJson.h"
#include "store/RunJson.h"

namespace {

std::string Figure(const std::optional<double>& value) {
    if (!value) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", *value);
    return text;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
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

// A stored text on one line of the report, escaped as `show` escapes a record's text: whatever
// a recipe name or an error holds, it never starts a line of its own or moves the cursor.
std::string Escaped(const std::string& text) {
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\\') {
            escaped += "\\\\";
        } else if (byte == '\n') {
            escaped += "\\n";
        } else if (byte == '\r') {
            escaped += "\\r";
        } else if (byte == '\t') {
            escaped += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", unsigned(byte));
            escaped += code;
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // A C1 control (U+0080 to U+009F), which a terminal obeys like ESC [.
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X",
                          unsigned(static_cast<unsigned char>(text[++i])));
            escaped += code;
        } else {
            escaped += char(byte);
        }
    }
    return escaped;
}

std::string TextLine(const RunRecord& run) {
    std::string line = Escaped(run.startedAt) + "  " +
                       (run.serial.empty() ? "----" : Escaped(run.serial)) + "  " +
                       Escaped(run.dieId) + "  " + Escaped(run.station) + " " + Escaped(run.port) +
                       "  " + Escaped(run.result);
    if (!run.failedStep.empty()) {
        line += " at " + Escaped(run.failedStep) + ": " + Escaped(run.error);
    }
    line += "  recipe " + Escaped(run.recipe);
    if (!run.imageSha256.empty()) line += "  image " + Escaped(run.imageSha256.substr(0, 12));
    if (!run.configSha256.empty()) line += "  config " + Escaped(run.configSha256.substr(0, 12));
    if (!run.hook.empty()) line += "  hook " + Escaped(run.hook) + ": " + Escaped(run.hookStatus);
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
