// A run's measurements as JSON: a list of {name, value, unit, low, high, marginal_low,
// marginal_high, outcome}, as history --json prints them, a hook reads them and the journal
// keeps them.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "store/Measurement.h"

nlohmann::ordered_json MeasurementsJson(const std::vector<Measurement>& measurements);
// The list read back; what is not a list of such objects gives none.
std::vector<Measurement> MeasurementsOf(const nlohmann::ordered_json& list);
