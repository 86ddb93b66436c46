// The statistics history as CSV: one row per report, readable by spreadsheet
// tools in every locale.
#pragma once

#include <QByteArray>
#include <QString>

class ReportHistory;

namespace ReportCsv {

// A header row with the field names, then per report: the time of arrival in
// ISO 8601, whether it is the first after a reset (1 or 0), the seventeen words
// as unsigned numbers and the derived values as the window shows them, with
// "." as decimal separator. Lines end in CR LF.
QByteArray ToCsv(const ReportHistory& history);

}  // namespace ReportCsv
