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

QString plainInteger(std::uint32_t word) {
    return QString::number(static_cast<std::int32_t>(word));
}

QString count(std::uint32_t word) {
    return QLocale().toString(static_cast<qulonglong>(word));
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

}  // namespace StatisticsFormat
