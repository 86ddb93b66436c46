#include "store/MeasurementJson.h"

#include <cmath>
#include <limits>

namespace {

using Json = nlohmann::ordered_json;

Json Nullable(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? Json(*value) : Json();
}

std::optional<double> NumberOf(const Json& value) {
    if (!value.is_number()) return std::nullopt;
    return value.get<double>();
}

}  // namespace

Json MeasurementsJson(const std::vector<Measurement>& measurements) {
    Json list = Json::array();
    for (const Measurement& measurement : measurements) {
        const MeasurementLimits& limits = measurement.limits;
        list.push_back({{"name", measurement.name},
                        {"value", Nullable(measurement.value)},
                        {"unit", measurement.unit},
                        {"low", Nullable(limits.low)},
                        {"high", Nullable(limits.high)},
                        {"marginal_low", Nullable(limits.marginalLow)},
                        {"marginal_high", Nullable(limits.marginalHigh)},
                        {"outcome", OutcomeName(measurement.outcome)}});
    }
    return list;
}

std::vector<Measurement> MeasurementsOf(const Json& list) {
    std::vector<Measurement> measurements;
    if (!list.is_array()) return measurements;
    for (const Json& item : list) {
        if (!item.is_object() || !item.value("name", Json()).is_string()) continue;
        Measurement measurement;
        measurement.name = item["name"].get<std::string>();
        measurement.value = NumberOf(item.value("value", Json()))
                                .value_or(std::numeric_limits<double>::quiet_NaN());
        const Json unit = item.value("unit", Json());
        measurement.unit = unit.is_string() ? unit.get<std::string>() : "";
        measurement.limits = {NumberOf(item.value("low", Json())),
                              NumberOf(item.value("high", Json())),
                              NumberOf(item.value("marginal_low", Json())),
                              NumberOf(item.value("marginal_high", Json()))};
        const Json outcome = item.value("outcome", Json());
        measurement.outcome = OutcomeNamed(outcome.is_string() ? outcome.get<std::string>() : "")
                                  .value_or(MeasurementOutcome::Unlimited);
        measurements.push_back(std::move(measurement));
    }
    return measurements;
}
