// What a station measures on each board: a stable dotted name, the value, its unit, the limits it
// was judged by and the outcome. The record names the measurements here, as it names the steps.
#pragma once

#include <optional>
#include <string>
#include <vector>

// A measurement's limits: the low and high limit (either may be absent) and, inside them, the
// marginal band: a value beyond marginal_low or marginal_high passes but is counted as marginal.
struct MeasurementLimits {
    std::optional<double> low, high, marginalLow, marginalHigh;

    bool any() const { return low || high || marginalLow || marginalHigh; }
    bool operator==(const MeasurementLimits&) const = default;
};

enum class MeasurementOutcome { Pass, Marginal, Fail, Unlimited };

struct Measurement {
    std::string name;
    double value = 0;
    std::string unit;
    MeasurementLimits limits;
    MeasurementOutcome outcome = MeasurementOutcome::Unlimited;

    bool operator==(const Measurement&) const = default;
};

// The outcome of a value against its limits. A value on a limit is within it; a value that is
// not a number fails any limit.
MeasurementOutcome JudgedOutcome(double value, const MeasurementLimits& limits);
// The measurement, judged.
Measurement Measured(const std::string& name, double value, const std::string& unit,
                     const MeasurementLimits& limits);

// "pass", "marginal", "fail", "unlimited": as the store, the JSON and the CSV write it.
const char* OutcomeName(MeasurementOutcome outcome);
std::optional<MeasurementOutcome> OutcomeNamed(const std::string& name);

// Why a failed measurement failed: "flash.program_ms.max 3.2 ms is above its high limit 3 ms".
// Empty for one that did not fail.
std::string LimitBreach(const Measurement& measurement);
// Why limits cannot be used together (a low above a high, a marginal band outside them), or "".
std::string LimitsProblem(const MeasurementLimits& limits);

// A value as the messages and the text forms show it: the shortest text that reads back as it.
std::string ValueText(double value);

// The measurements a station takes, named so in every store, report and hook.
namespace MeasurementName {
constexpr const char* FlashEraseMax = "flash.erase_ms.max";
constexpr const char* FlashEraseMean = "flash.erase_ms.mean";
constexpr const char* FlashProgramMax = "flash.program_ms.max";
constexpr const char* FlashProgramMean = "flash.program_ms.mean";
constexpr const char* Identify = "identify.ms";
constexpr const char* Download = "download.s";
constexpr const char* Verify = "verify.s";
constexpr const char* Config = "config.s";
constexpr const char* Readback = "readback.s";
constexpr const char* SoakErroneousMean = "soak.erroneous_percent.mean";
constexpr const char* SoakErroneousWorst = "soak.erroneous_percent.worst";
constexpr const char* SoakLostMean = "soak.lost_percent.mean";
constexpr const char* SoakLostWorst = "soak.lost_percent.worst";
constexpr const char* SoakJitterMean = "soak.jitter_ms.mean";
constexpr const char* SoakJitterWorst = "soak.jitter_ms.worst";
constexpr const char* SoakLoadMean = "soak.processor_load.mean";
constexpr const char* SoakLoadWorst = "soak.processor_load.worst";
constexpr const char* SoakSyncMean = "soak.sync_frequency.mean";
constexpr const char* SoakSyncWorst = "soak.sync_frequency.worst";
}  // namespace MeasurementName

struct KnownMeasurement {
    const char* name;
    const char* unit;
};
// Every measurement a station takes, with its unit, in the order of the run.
const std::vector<KnownMeasurement>& KnownMeasurements();
// The unit of a measurement the station takes; nothing for a name it does not take.
std::optional<std::string> UnitOf(const std::string& name);
