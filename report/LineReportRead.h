// The line report as every face asks for it: read from a store by its location for a period and
// a scope, and rendered in one of its formats. k350ctl's `report` and a server call the same two.
#pragma once

#include <string>

#include "report/LineReport.h"
#include "report/ReportPeriod.h"

enum class ReportFormat { Text, Json, Csv, Html };

// Read-only: a missing file or another program's is refused as it is, and a station writing
// meanwhile is neither waited for nor disturbed. `scope` names the station, port and recipe (empty:
// any); its times are the period's. Throws StoreError.
LineReport ReadLineReportAt(const std::string& location, const ReportPeriod& period,
                            ReportFilter scope, const AlertRule& rule);

std::string RenderedLineReport(const LineReport& report, ReportFormat format);

// Every measurement of the period's runs in the scope, one CSV row each, with a header: the long
// form for a quality engineer's own tools. Throws StoreError.
std::string MeasurementsCsvAt(const std::string& location, const ReportPeriod& period,
                              ReportFilter scope);
