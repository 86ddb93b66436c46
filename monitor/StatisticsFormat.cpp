#include "monitor/StatisticsFormat.h"

#include <QLocale>

namespace StatisticsFormat {
namespace {

constexpr double kTicksPerSecond = 46875.0;
constexpr double kFractionUnit = 2147483648.0;  // 2^31

// Rounds to `significant` digits first, then to `decimals` decimals: a value is
// never shown with more precision than it carries.
double rounded(double value, int significant, int decimals) {
    const double toSignificant = QString::number(value, 'g', significant).toDouble();
    return QString::number(toSignificant, 'f', decimals).toDouble();
}

// Fixed notation in the user's locale, without digit grouping.
QString fixed(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

}  // namespace

QString plainInteger(std::uint32_t word) {
    return QString::number(static_cast<std::int32_t>(word));
}

QString count(std::uint32_t word) {
    return QLocale().toString(static_cast<qulonglong>(word));
}

double percentageValue(std::uint32_t word) {
    return rounded(word * 100.0 / kFractionUnit, 6, kPercentageDecimals);
}

double millisecondsValue(std::uint32_t word) {
    return rounded(word * 1000.0 / kTicksPerSecond, 8, kMillisecondsDecimals);
}

double loadValue(std::uint32_t word) {
    return rounded(word * 100.0 / kTicksPerSecond, 4, kLoadDecimals);
}

QString percentage(std::uint32_t word) {
    return fixed(percentageValue(word), kPercentageDecimals) + QStringLiteral(" %");
}

QString milliseconds(std::uint32_t word) {
    return fixed(millisecondsValue(word), kMillisecondsDecimals) + QStringLiteral(" мсек");
}

QString load(std::uint32_t word) {
    return fixed(loadValue(word), kLoadDecimals);
}

std::uint32_t wordAt(const std::uint8_t* record, int index) {
    const std::uint8_t* bytes = record + 4 * index;
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace StatisticsFormat
