// The period a report covers, as the reader gives it (local time, or UTC with a Z), in the
// store's own time text.
#pragma once

#include <ctime>
#include <optional>
#include <string>

struct ReportPeriod {
    std::string since, until;  // ISO 8601 in UTC, as the store keeps times; until is excluded
    std::string text;          // for the reader: "2026-12-09 00:00 to 2026-12-10 00:00"
};

// since and until each as ParseTimeBound reads them (a date, or a local time, or one with Z or
// an offset). A date as until includes its whole day; a time as until is where the period ends.
// Neither given: today. Only since: until now and after. Only until: everything before it.
// Empty on text that is no such time, or on a period that ends before it starts.
std::optional<ReportPeriod> ParseReportPeriod(const std::string& since, const std::string& until,
                                              std::time_t now);
