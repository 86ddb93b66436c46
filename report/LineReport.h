// `report`: the line's figures for a period, by station and by port, as a table to read in a
// terminal, JSON, CSV, or a page (LineReportPage).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/CapabilityReport.h"
#include "store/PortAlertRule.h"
#include "store/ReportQueries.h"

// The figures of one group: the whole line, a station or a port.
struct GroupFigures {
    GroupName name;
    RunCounts counts;
    Durations boardTime;
    std::vector<StepFigures> steps;      // in the order the station runs them
    std::vector<FailureCount> failures;  // most frequent first
    std::vector<HourCount> hours;        // in order
    std::optional<PortAlert> suspect;    // a port going bad

    std::int64_t retests() const { return counts.runs - counts.boards; }
    std::optional<double> yield() const;            // boards that passed, of those seen
    std::optional<double> firstPassYield() const;   // first runs that passed, of those judged
    std::optional<double> secondPassYield() const;  // of the same boards, passed by the second
    std::optional<double> lastPassYield() const;    // latest verdicts that passed, of boards judged
    std::optional<double> perHour() const;          // runs ended per hour with any
    std::string topFailedStep() const;              // the step that failed most; "" for none
};

struct LineReport {
    ReportFilter filter;
    std::string periodText;  // the period as the reader gave it, in local time
    AlertRule rule;
    GroupFigures line;
    std::vector<GroupFigures> stations, ports;
    std::vector<DamagedRun> leftOut;  // damaged runs, out of the times and steps
    CapabilityFigures measured;       // each measurement's capability, and the ports that drift
    // Golden and known-bad boards: their runs are in none of the figures above.
    std::vector<ReferenceCount> referenceBoards;
};

LineReport ReadLineReport(ReportQueries& queries, const ReportFilter& filter,
                          const AlertRule& rule);

std::string LineReportText(const LineReport& report);
std::string LineReportJson(const LineReport& report);  // one object on one line
std::string LineReportCsv(const LineReport& report);   // a row per group

// A figure as the report's forms show it; `none` stands where there is no figure.
std::string ReportFigure(const char* pattern, double value);
std::string ReportPercent(const std::optional<double>& share, const char* none);
std::string ReportSeconds(const std::optional<double>& seconds, const char* none);

// An hour as the store keeps it ("2026-12-09T10", UTC) in local time ("2026-12-09 13:00").
std::string LocalHour(const std::string& utcHour);
