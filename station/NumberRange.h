// The range a number setting takes, wherever it is given: on the command line or in a recipe,
// so both refuse the same values with the same words.
#pragma once

#include <string>

struct NumberRange {
    double low, high;
    bool whole = false;

    // Finite, within the range and, for a whole range, an integer.
    bool holds(double value) const;
    // "a number from 0 to 86400", for the refusal.
    std::string text() const;
};

namespace StationRange {
constexpr NumberRange SoakSeconds{0, 86400};
constexpr NumberRange Percent{0, 100};
constexpr NumberRange Milliseconds{0, 1e6};
constexpr NumberRange Frequency{0, 1e6};  // Hz
constexpr NumberRange Boards{0, 1e6, true};
constexpr NumberRange AlertFailures{0, 1000, true};
constexpr NumberRange AlertOf{1, 1000, true};
constexpr NumberRange HookSeconds{1, 3600};
constexpr NumberRange StoreRetrySeconds{0, 86400};
// The longest soak and what the rest of a run takes (kRunAllowanceSeconds).
constexpr NumberRange MaxRunSeconds{0, 86400 + 600};
}  // namespace StationRange
