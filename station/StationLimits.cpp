#include "station/StationLimits.h"

#include <optional>

#include "station/StationRecipe.h"
#include "station/StationSettings.h"

namespace {

struct LimitKey {
    const char* key;
    std::optional<double> MeasurementLimits::*field;
};
constexpr LimitKey kLimitKeys[] = {{"low", &MeasurementLimits::low},
                                   {"high", &MeasurementLimits::high},
                                   {"marginal_low", &MeasurementLimits::marginalLow},
                                   {"marginal_high", &MeasurementLimits::marginalHigh}};

const LimitKey* KeyNamed(const std::string& key) {
    for (const LimitKey& known : kLimitKeys) {
        if (key == known.key) return &known;
    }
    return nullptr;
}

std::string Where(const std::string& name) {
    return "limits.\"" + name + "\"";
}

std::string UnitFor(const std::string& name) {
    const auto unit = UnitOf(name);
    if (!unit) throw RecipeError(Where(name) + ": no measurement of that name");
    return *unit;
}

struct SoakMaximum {
    const char* setting;
    const char* measurement;
    std::optional<double> SoakLimits::*field;
};
constexpr SoakMaximum kSoakMaxima[] = {
    {"max_erroneous_percent", MeasurementName::SoakErroneousWorst,
     &SoakLimits::maxErroneousPercent},
    {"max_lost_percent", MeasurementName::SoakLostWorst, &SoakLimits::maxLostPercent},
    {"max_jitter_ms", MeasurementName::SoakJitterWorst, &SoakLimits::maxJitterMs}};

}  // namespace

void SetLimit(LimitTable& limits, const std::string& name, const std::string& key, double value) {
    const LimitKey* known = KeyNamed(key);
    const std::string unit = UnitFor(name);
    if (!known) {
        throw RecipeError("unknown key " + Where(name) + "." + key +
                          " (low, high, marginal_low, marginal_high)");
    }
    const NumberRange range = LimitRange(unit);
    if (!range.holds(value)) {
        throw RecipeError(Where(name) + "." + key + " needs " + range.text() + ", not " +
                          ValueText(value));
    }
    limits[name].*(known->field) = value;
}

void CheckLimitOrder(const LimitTable& limits) {
    for (const auto& [name, measurement] : limits) {
        if (const std::string problem = LimitsProblem(measurement); !problem.empty()) {
            throw RecipeError(Where(name) + ": " + problem);
        }
    }
}

void ApplyLimitOption(LimitTable& limits, const std::string& option) {
    const auto equals = option.find('=');
    const auto dot = equals == std::string::npos ? equals : option.rfind('.', equals);
    if (dot == std::string::npos) {
        throw RecipeError("--limit \"" + option + "\" is not NAME.KEY=VALUE");
    }
    const std::string text = option.substr(equals + 1);
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size()) {
        throw RecipeError("--limit \"" + option + "\": " + text + " is no number");
    }
    LimitTable changed = limits;
    SetLimit(changed, option.substr(0, dot), option.substr(dot + 1, equals - dot - 1), value);
    CheckLimitOrder(changed);
    limits = std::move(changed);
}

LimitTable WithSoakMaxima(LimitTable limits, const SoakLimits& soak) {
    for (const SoakMaximum& maximum : kSoakMaxima) {
        if (const auto value = soak.*(maximum.field)) limits[maximum.measurement].high = *value;
    }
    return limits;
}

void CheckSoakMaxima(const LimitTable& limits, const SoakLimits& soak) {
    for (const SoakMaximum& maximum : kSoakMaxima) {
        const auto entry = limits.find(maximum.measurement);
        if (soak.*(maximum.field) && entry != limits.end() && entry->second.high) {
            throw RecipeError(std::string("soak.") + maximum.setting + " and " +
                              Where(maximum.measurement) + ".high are one limit: give one");
        }
    }
}

MeasurementLimits LimitsOf(const LimitTable& limits, const std::string& name) {
    const auto entry = limits.find(name);
    return entry == limits.end() ? MeasurementLimits{} : entry->second;
}

NumberRange LimitRange(const std::string& unit) {
    if (unit == "%") return StationRange::Percent;
    if (unit == "ms") return StationRange::Milliseconds;
    if (unit == "s") return StationRange::MaxRunSeconds;
    return StationRange::Frequency;
}
