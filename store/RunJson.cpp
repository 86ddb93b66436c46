#include "store/RunJson.h"

#include <nlohmann/json.hpp>

#include "store/MeasurementJson.h"

namespace {

nlohmann::ordered_json Nullable(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

nlohmann::ordered_json Nullable(const std::optional<double>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json();
}

}  // namespace

std::string RunJsonLine(const RunRecord& run) {
    nlohmann::ordered_json steps;
    try {
        steps =
            run.steps.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json::parse(run.steps);
    } catch (const nlohmann::ordered_json::exception&) {
        steps = run.steps;  // kept as the store holds it
    }
    return nlohmann::ordered_json{{"id", run.id},
                                  {"serial", Nullable(run.serial)},
                                  {"die_id", run.dieId},
                                  {"chip_id", run.chipId},
                                  {"station", run.station},
                                  {"port", run.port},
                                  {"recipe", run.recipe},
                                  {"image_sha256", Nullable(run.imageSha256)},
                                  {"config_sha256", Nullable(run.configSha256)},
                                  {"recipe_sha256", Nullable(run.recipeSha256)},
                                  {"program_version", Nullable(run.programVersion)},
                                  {"operator", Nullable(run.operatorName)},
                                  {"lot", Nullable(run.lot)},
                                  {"started_at", run.startedAt},
                                  {"finished_at", Nullable(run.finishedAt)},
                                  {"result", run.result},
                                  {"failed_step", Nullable(run.failedStep)},
                                  {"error", Nullable(run.error)},
                                  {"steps", steps},
                                  {"soak_erroneous_percent", Nullable(run.soakErroneousPercent)},
                                  {"soak_lost_percent", Nullable(run.soakLostPercent)},
                                  {"soak_jitter_ms", Nullable(run.soakJitterMs)},
                                  {"hook", Nullable(run.hook)},
                                  {"hook_status", Nullable(run.hookStatus)},
                                  {"measurements", MeasurementsJson(run.measurements)}}
        .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
