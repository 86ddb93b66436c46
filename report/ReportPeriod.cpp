#include "report/ReportPeriod.h"

#include "report/TimeBound.h"

namespace {

// The store's bounds when a side of the period is open: before any run, after every run.
constexpr const char* kBeginning = "0000-01-01T00:00:00Z";
constexpr const char* kEnd = "9999-12-31T23:59:59Z";

// The local midnight that begins the day of `time`, or a day `daysAhead` after it; mktime keeps
// it right across a change of summer time.
std::time_t LocalMidnight(std::time_t time, int daysAhead = 0) {
    std::tm local{};
    localtime_r(&time, &local);
    local.tm_mday += daysAhead;
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::string LocalText(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

}  // namespace

std::optional<ReportPeriod> ParseReportPeriod(const std::string& since, const std::string& until,
                                              std::time_t now) {
    std::optional<std::time_t> first, end;
    if (!since.empty()) {
        const auto span = ParseTimeBound(since);
        if (!span) return std::nullopt;
        first = span->first;
    }
    if (!until.empty()) {
        // The end is excluded: a date ends with its day, a time where it starts.
        const auto span = ParseTimeBound(until);
        if (!span) return std::nullopt;
        end = span->wholeDay ? span->after : span->first;
    }
    if (!first && !end) {
        first = LocalMidnight(now);
        end = LocalMidnight(now, 1);
    }
    if (first && end && *end <= *first) return std::nullopt;
    ReportPeriod period;
    period.since = first ? UtcText(*first) : kBeginning;
    period.until = end ? UtcText(*end) : kEnd;
    period.text = first && end ? LocalText(*first) + " to " + LocalText(*end)
                  : first      ? "since " + LocalText(*first)
                               : "before " + LocalText(*end);
    return period;
}
