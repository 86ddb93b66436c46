#include "station/NumberRange.h"

#include <cmath>

namespace {
std::string Bound(double value) {
    return std::to_string(static_cast<long long>(value));
}
}  // namespace

bool NumberRange::holds(double value) const {
    return std::isfinite(value) && value >= low && value <= high &&
           (!whole || value == std::floor(value));
}

std::string NumberRange::text() const {
    return std::string(whole ? "a whole number" : "a number") + " from " + Bound(low) + " to " +
           Bound(high);
}
