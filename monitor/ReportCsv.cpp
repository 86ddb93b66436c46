#include "monitor/ReportCsv.h"

#include "monitor/ReportHistory.h"
#include "monitor/StatisticsFormat.h"

namespace ReportCsv {
namespace {

const char* const kHeader =
    "time,reset,sTime,sTxd,sTxdBytes,sRxd,sRxdBytes,sRxdErr,sRxdErrFract,sTxv,sTxvBytes,"
    "sTxvLost,sRxv,sRxvBytes,sRxvLost,sRxvLostFract,sJitter,sLoad,sFreq,"
    "sRxdErrFract %,sRxvLostFract %,sJitter ms,sLoad %";

// Decimals of each derived value, in StatisticsSeries order.
constexpr int kShownDecimals[StatisticsSeries::kCount] = {
    StatisticsFormat::kPercentageDecimals, StatisticsFormat::kPercentageDecimals,
    StatisticsFormat::kMillisecondsDecimals, StatisticsFormat::kLoadDecimals};

void appendRow(QByteArray& csv, const StatisticsReport& report) {
    csv += report.arrival().toString(Qt::ISODateWithMs).toLatin1();
    csv += report.afterReset ? ",1" : ",0";
    for (std::uint32_t word : report.words) {
        csv += ',';
        csv += QByteArray::number(word);
    }
    for (int series = 0; series < StatisticsSeries::kCount; ++series) {
        csv += ',';
        csv += QByteArray::number(report.shown[series], 'f', kShownDecimals[series]);
    }
    csv += "\r\n";
}

}  // namespace

QByteArray ToCsv(const ReportHistory& history) {
    QByteArray csv(kHeader);
    csv += "\r\n";
    csv.reserve(csv.size() + qsizetype(history.size()) * 200);
    for (std::size_t index = 0; index < history.size(); ++index) appendRow(csv, history[index]);
    return csv;
}

}  // namespace ReportCsv
