#include "cli/station/ReportPeriod.h"

#include <cstdio>

#include "cli/station/TimeBound.h"

namespace {

// The store's bounds when a side of the period is open: before any run, after every run.
constexpr const char* kBeginning = "0000-01-01T00:00:00Z";
constexpr const char* kEnd = "9999-12-31T23:59:59Z";

struct Moment {
    std::time_t time = 0;
    bool dateOnly = false;
};

std::optional<Moment> ParseMoment(const std::string& text) {
    std::tm parts{};
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &consumed) != 3 ||
        consumed != 10) {
        return std::nullopt;
    }
    std::string rest = text.substr(10);
    const bool utc = !rest.empty() && rest.back() == 'Z';
    if (utc) rest.pop_back();
    const bool dateOnly = rest.empty();
    if (!dateOnly) {
        int more = 0;
        char separator = 0;
        const int fields = std::sscanf(rest.c_str(), "%c%2d:%2d%n:%2d%n", &separator,
                                       &parts.tm_hour, &parts.tm_min, &more, &parts.tm_sec, &more);
        if (fields < 3 || (separator != 'T' && separator != ' ') || more != int(rest.size())) {
            return std::nullopt;
        }
    }
    const std::tm given = parts;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    parts.tm_isdst = -1;
    const std::time_t time = utc ? timegm(&parts) : std::mktime(&parts);
    // A day or hour out of range comes back moved: refused rather than read as another time.
    std::tm check{};
    if (utc) {
        gmtime_r(&time, &check);
    } else {
        localtime_r(&time, &check);
    }
    if (check.tm_year + 1900 != given.tm_year || check.tm_mon + 1 != given.tm_mon ||
        check.tm_mday != given.tm_mday || check.tm_min != given.tm_min || given.tm_hour > 23 ||
        given.tm_sec > 59) {
        return std::nullopt;
    }
    return Moment{time, dateOnly};
}

// The local midnight that starts the day after `time`'s day.
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
    std::optional<Moment> from, to;
    if (!since.empty() && !(from = ParseMoment(since))) return std::nullopt;
    if (!until.empty() && !(to = ParseMoment(until))) return std::nullopt;
    if (!from && !to) {
        from = Moment{LocalMidnight(now), true};
        to = Moment{LocalMidnight(now, 1), false};
    } else if (to && to->dateOnly) {
        to->time = LocalMidnight(to->time, 1);
    }
    if (from && to && to->time <= from->time) return std::nullopt;
    ReportPeriod period;
    period.since = from ? UtcText(from->time) : kBeginning;
    period.until = to ? UtcText(to->time) : kEnd;
    period.text = from && to ? LocalText(from->time) + " to " + LocalText(to->time)
                  : from     ? "since " + LocalText(from->time)
                             : "before " + LocalText(to->time);
    return period;
}
