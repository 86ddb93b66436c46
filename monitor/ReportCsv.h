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
QByteArray toCsv(const ReportHistory& history);

// Writes the CSV as configuration files are written: the file holds either
// its old content or the whole new one. False when it cannot.
bool save(const ReportHistory& history, const QString& path);

}  // namespace ReportCsv
