#include "monitor/StatisticsFormat.h"

#include <QLocale>

namespace StatisticsFormat {
namespace {

// Fixed notation in the user's locale, without digit grouping.
QString fixed(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

}  // namespace

QString PlainInteger(std::uint32_t word) {
    return QString::number(static_cast<std::int32_t>(word));
}

QString Count(std::uint32_t word) {
    return QLocale().toString(static_cast<qulonglong>(word));
}

QString Percentage(std::uint32_t word) {
    return fixed(PercentageValue(word), kPercentageDecimals) + QStringLiteral(" %");
}

QString Milliseconds(std::uint32_t word) {
    return fixed(MillisecondsValue(word), kMillisecondsDecimals) + QStringLiteral(" мсек");
}

QString Load(std::uint32_t word) {
    return fixed(LoadValue(word), kLoadDecimals);
}

}  // namespace StatisticsFormat
