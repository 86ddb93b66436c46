// The limits a station judges its measurements by: the recipe's [limits] table, keyed by the
// measurement's name, with the soak's max_* settings as the high limits of the soak's worst
// figures.
//
//   [limits]
//   "flash.program_ms.max" = { high = 3.0, marginal_high = 2.5 }
//   "soak.sync_frequency.mean" = { low = 7990, high = 8010 }
#pragma once

#include <map>
#include <string>

#include "station/NumberRange.h"
#include "store/Measurement.h"

struct SoakLimits;

using LimitTable = std::map<std::string, MeasurementLimits>;

// One limit of a measurement ("high" of "flash.program_ms.max"), as the recipe's [limits] table
// or an option gives it: known names and keys only, the value within the range of the
// measurement's unit. Throws RecipeError.
void SetLimit(LimitTable& limits, const std::string& name, const std::string& key, double value);
// Refuses limits out of order (low <= marginal_low <= marginal_high <= high).
void CheckLimitOrder(const LimitTable& limits);
// One limit given as an option: "flash.program_ms.max.high=3", checked as the recipe's are.
// Throws RecipeError.
void ApplyLimitOption(LimitTable& limits, const std::string& option);

// The table with the soak's maxima as the high limits of the soak's worst figures; a maximum
// given replaces a high limit of the table.
LimitTable WithSoakMaxima(LimitTable limits, const SoakLimits& soak);
// Refuses a recipe that gives one limit twice: a soak maximum and its measurement's high.
void CheckSoakMaxima(const LimitTable& limits, const SoakLimits& soak);

// The limits of a measurement; none when the table has none.
MeasurementLimits LimitsOf(const LimitTable& limits, const std::string& name);

// The range a limit of a measurement in this unit takes.
NumberRange LimitRange(const std::string& unit);
