#include "store/Measurement.h"

#include <charconv>
#include <cmath>

namespace {

struct Bound {
    const std::optional<double>& limit;
    const char* name;
};

bool Below(double value, const std::optional<double>& limit) {
    return limit && value < *limit;
}
bool Above(double value, const std::optional<double>& limit) {
    return limit && value > *limit;
}

std::string WithUnit(double value, const std::string& unit) {
    return ValueText(value) + (unit.empty() ? "" : " " + unit);
}

// Each pair that must be in order, lowest first.
bool InOrder(const std::optional<double>& lower, const std::optional<double>& upper) {
    return !lower || !upper || *lower <= *upper;
}

}  // namespace

MeasurementOutcome JudgedOutcome(double value, const MeasurementLimits& limits) {
    if (!limits.any()) return MeasurementOutcome::Unlimited;
    if (!std::isfinite(value)) return MeasurementOutcome::Fail;
    if (Below(value, limits.low) || Above(value, limits.high)) return MeasurementOutcome::Fail;
    if (Below(value, limits.marginalLow) || Above(value, limits.marginalHigh)) {
        return MeasurementOutcome::Marginal;
    }
    return MeasurementOutcome::Pass;
}

Measurement Measured(const std::string& name, double value, const std::string& unit,
                     const MeasurementLimits& limits) {
    return {name, value, unit, limits, JudgedOutcome(value, limits)};
}

const char* OutcomeName(MeasurementOutcome outcome) {
    switch (outcome) {
        case MeasurementOutcome::Pass:
            return "pass";
        case MeasurementOutcome::Marginal:
            return "marginal";
        case MeasurementOutcome::Fail:
            return "fail";
        case MeasurementOutcome::Unlimited:
            break;
    }
    return "unlimited";
}

std::optional<MeasurementOutcome> OutcomeNamed(const std::string& name) {
    for (const auto outcome : {MeasurementOutcome::Pass, MeasurementOutcome::Marginal,
                               MeasurementOutcome::Fail, MeasurementOutcome::Unlimited}) {
        if (name == OutcomeName(outcome)) return outcome;
    }
    return std::nullopt;
}

std::string LimitBreach(const Measurement& measurement) {
    if (measurement.outcome != MeasurementOutcome::Fail) return {};
    const MeasurementLimits& limits = measurement.limits;
    const std::string shown =
        measurement.name + " " + WithUnit(measurement.value, measurement.unit);
    if (Below(measurement.value, limits.low)) {
        return shown + " is below its low limit " + WithUnit(*limits.low, measurement.unit);
    }
    if (Above(measurement.value, limits.high)) {
        return shown + " is above its high limit " + WithUnit(*limits.high, measurement.unit);
    }
    return shown + " is no number";
}

std::string LimitsProblem(const MeasurementLimits& limits) {
    const Bound order[] = {{limits.low, "low"},
                           {limits.marginalLow, "marginal_low"},
                           {limits.marginalHigh, "marginal_high"},
                           {limits.high, "high"}};
    for (std::size_t i = 0; i < std::size(order); ++i) {
        for (std::size_t j = i + 1; j < std::size(order); ++j) {
            if (!InOrder(order[i].limit, order[j].limit)) {
                return std::string(order[i].name) + " " + ValueText(*order[i].limit) +
                       " is above " + order[j].name + " " + ValueText(*order[j].limit);
            }
        }
    }
    return {};
}

std::string ValueText(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

const std::vector<KnownMeasurement>& KnownMeasurements() {
    using namespace MeasurementName;
    static const std::vector<KnownMeasurement> known{
        {Identify, "ms"},
        {FlashEraseMax, "ms"},
        {FlashEraseMean, "ms"},
        {FlashProgramMax, "ms"},
        {FlashProgramMean, "ms"},
        {Download, "s"},
        {Verify, "s"},
        {Config, "s"},
        {Readback, "s"},
        {SoakErroneousMean, "%"},
        {SoakErroneousWorst, "%"},
        {SoakLostMean, "%"},
        {SoakLostWorst, "%"},
        {SoakJitterMean, "ms"},
        {SoakJitterWorst, "ms"},
        {SoakLoadMean, "%"},
        {SoakLoadWorst, "%"},
        {SoakSyncMean, "Hz"},
        {SoakSyncWorst, "Hz"},
    };
    return known;
}

std::optional<std::string> UnitOf(const std::string& name) {
    for (const KnownMeasurement& known : KnownMeasurements()) {
        if (name == known.name) return std::string(known.unit);
    }
    return std::nullopt;
}
