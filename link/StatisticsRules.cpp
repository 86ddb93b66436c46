#include "link/StatisticsRules.h"

#include <charconv>

namespace StatisticsRules {
namespace {

constexpr double kTicksPerSecond = 46875.0;
constexpr double kFractionUnit = 2147483648.0;  // 2^31

double printedAndReadBack(double value, std::chars_format format, int precision) {
    char text[64];
    const auto printed = std::to_chars(text, text + sizeof text, value, format, precision);
    double result = value;
    std::from_chars(text, printed.ptr, result);
    return result;
}

// Rounds to `significant` digits first, then to `decimals` decimals: a value is
// never shown with more precision than it carries. Locale-free, as the board's numbers are.
double rounded(double value, int significant, int decimals) {
    const double toSignificant = printedAndReadBack(value, std::chars_format::general, significant);
    return printedAndReadBack(toSignificant, std::chars_format::fixed, decimals);
}

}  // namespace

double PercentageValue(std::uint32_t word) {
    return rounded(word * 100.0 / kFractionUnit, 6, kPercentageDecimals);
}

double MillisecondsValue(std::uint32_t word) {
    return rounded(word * 1000.0 / kTicksPerSecond, 8, kMillisecondsDecimals);
}

double LoadValue(std::uint32_t word) {
    return rounded(word * 100.0 / kTicksPerSecond, 4, kLoadDecimals);
}

std::uint32_t WordAt(const std::uint8_t* record, int index) {
    const std::uint8_t* bytes = record + 4 * index;
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace StatisticsRules
