// The statistics history as CSV, in any locale.
#include <QLocale>

#include "monitor/ReportCsv.h"
#include "tests/support/ReportHistoryFixture.h"

namespace {

using ReportCsvTest = HistoryTest;

TEST_F(ReportCsvTest, CsvHasAHeaderAndOneRowPerReportWithAPointForDecimals) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));  // decimal comma
    Words words{5, 10, 320, 9, 270,      1,     1u << 30, 20,         400,
                0, 19, 380, 1, 1u << 31, 46875, 9375,     0xFFFFFFFFu};
    append(words);
    words = {6, 11, 352, 10, 300, 1, 2651212660u, 40, 800, 0, 38, 760, 1, 7, 578704, 1234, 8000};
    append(words);
    appendAt(0);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));

    const QByteArray expected =
        "time,reset,sTime,sTxd,sTxdBytes,sRxd,sRxdBytes,sRxdErr,sRxdErrFract,sTxv,sTxvBytes,"
        "sTxvLost,sRxv,sRxvBytes,sRxvLost,sRxvLostFract,sJitter,sLoad,sFreq,"
        "sRxdErrFract %,sRxvLostFract %,sJitter ms,sLoad %\r\n"
        "2026-12-09T14:03:27.250+03:00,0,5,10,320,9,270,1,1073741824,20,400,0,19,380,1,"
        "2147483648,46875,9375,4294967295,50.0000,100.0000,1000.0000,20.00\r\n"
        "2026-12-09T14:03:28.250+03:00,0,6,11,352,10,300,1,2651212660,40,800,0,38,760,1,"
        "7,578704,1234,8000,123.4570,0.0000,12345.6850,2.63\r\n"
        "2026-12-09T14:03:29.250+03:00,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
        "0.0000,0.0000,0.0000,0.00\r\n";
    EXPECT_EQ(ReportCsv::ToCsv(history_), expected);
}

}  // namespace
