#include "monitor/StatisticsFormat.h"

#include <QLocale>

namespace StatisticsFormat {
namespace {

constexpr double kTicksPerSecond = 46875.0;
constexpr double kFractionUnit = 2147483648.0;  // 2^31

// Fixed notation without digit grouping. Rounds to `significant` digits
// first, then shows exactly `decimals` decimals: a value is never shown with
// more precision than it carries.
QString fixed(double value, int significant, int decimals) {
    const double rounded = QString::number(value, 'g', significant).toDouble();
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(rounded, 'f', decimals);
}

}  // namespace

QString plainInteger(std::uint32_t word) {
    return QString::number(static_cast<std::int32_t>(word));
}

QString count(std::uint32_t word) {
    return QLocale().toString(static_cast<qulonglong>(word));
}

QString percentage(std::uint32_t word) {
    return fixed(word * 100.0 / kFractionUnit, 6, 4) + QStringLiteral(" %");
}

QString milliseconds(std::uint32_t word) {
    return fixed(word * 1000.0 / kTicksPerSecond, 8, 4) + QStringLiteral(" мсек");
}

QString load(std::uint32_t word) {
    return fixed(word * 100.0 / kTicksPerSecond, 4, 2);
}

std::uint32_t wordAt(const std::uint8_t* record, int index) {
    const std::uint8_t* bytes = record + 4 * index;
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace StatisticsFormat
