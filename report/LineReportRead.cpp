#include "report/LineReportRead.h"

#include "report/LineReportPage.h"
#include "store/SqlRunStore.h"

LineReport ReadLineReportAt(const std::string& location, const ReportPeriod& period,
                            ReportFilter scope, const AlertRule& rule) {
    scope.since = period.since;
    scope.until = period.until;
    const auto store = OpenSqlRunStore(location, StoreAccess::Read);
    ReportQueries queries(store->connection(), scope);
    LineReport report = ReadLineReport(queries, scope, rule);
    report.measured = ReadCapability(store->connection(), scope);
    report.periodText = period.text;
    return report;
}

std::string MeasurementsCsvAt(const std::string& location, const ReportPeriod& period,
                              ReportFilter scope) {
    scope.since = period.since;
    scope.until = period.until;
    const auto store = OpenSqlRunStore(location, StoreAccess::Read);
    return MeasurementsLongCsv(PeriodMeasurementRows(store->connection(), scope));
}

std::string RenderedLineReport(const LineReport& report, ReportFormat format) {
    switch (format) {
        case ReportFormat::Json:
            return LineReportJson(report);
        case ReportFormat::Csv:
            return LineReportCsv(report);
        case ReportFormat::Html:
            return LineReportPage(report);
        case ReportFormat::Text:
            break;
    }
    return LineReportText(report);
}
