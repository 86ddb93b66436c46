#include "report/TimeBound.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace {

struct Reader {
    const std::string& text;
    std::size_t at = 0;

    bool done() const { return at == text.size(); }
    bool take(char c) {
        if (done() || text[at] != c) return false;
        ++at;
        return true;
    }
    // Exactly `digits` digits.
    std::optional<int> number(int digits) {
        int value = 0;
        for (int i = 0; i < digits; ++i, ++at) {
            if (done() || !std::isdigit(static_cast<unsigned char>(text[at]))) return std::nullopt;
            value = value * 10 + (text[at] - '0');
        }
        return value;
    }
};

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// The offset east of UTC in seconds of `Z`, `±HH`, `±HHMM` or `±HH:MM`.
std::optional<int> ZoneOffset(Reader& reader) {
    if (reader.take('Z')) return 0;
    const int sign = reader.take('+') ? 1 : reader.take('-') ? -1 : 0;
    if (sign == 0) return std::nullopt;
    const auto hours = reader.number(2);
    if (!hours || *hours > 14) return std::nullopt;
    int minutes = 0;
    if (!reader.done()) {
        reader.take(':');
        const auto given = reader.number(2);
        if (!given || *given > 59) return std::nullopt;
        minutes = *given;
    }
    return sign * (*hours * 3600 + minutes * 60);
}

// The local time as this machine's zone has it; nothing for a time its clocks skip.
std::optional<std::time_t> LocalInstant(std::tm local) {
    std::tm asked = local;
    local.tm_isdst = -1;
    const std::time_t instant = std::mktime(&local);
    if (instant == -1 || local.tm_hour != asked.tm_hour || local.tm_min != asked.tm_min ||
        local.tm_mday != asked.tm_mday) {
        return std::nullopt;
    }
    return instant;
}

}  // namespace

std::optional<TimeSpan> ParseTimeBound(const std::string& text) {
    Reader reader{text};
    const auto year = reader.number(4);
    if (!year || !reader.take('-')) return std::nullopt;
    const auto month = reader.number(2);
    if (!month || *month < 1 || *month > 12 || !reader.take('-')) return std::nullopt;
    const auto day = reader.number(2);
    if (!day || *day < 1 || *day > DaysIn(*year, *month)) return std::nullopt;
    std::tm time{};
    time.tm_year = *year - 1900;
    time.tm_mon = *month - 1;
    time.tm_mday = *day;
    if (reader.done()) {
        // The day's first local instant, wherever its clocks start it.
        const auto start = [](std::tm day) {
            day.tm_isdst = -1;
            return std::mktime(&day);
        };
        std::tm next = time;
        ++next.tm_mday;
        return TimeSpan{start(time), start(next), true};
    }
    if (!reader.take('T') && !reader.take(' ')) return std::nullopt;
    const auto hour = reader.number(2);
    if (!hour || *hour > 23 || !reader.take(':')) return std::nullopt;
    const auto minute = reader.number(2);
    if (!minute || *minute > 59) return std::nullopt;
    std::optional<int> second;
    if (reader.take(':')) {
        second = reader.number(2);
        if (!second || *second > 59) return std::nullopt;
    }
    time.tm_hour = *hour;
    time.tm_min = *minute;
    time.tm_sec = second.value_or(0);
    std::optional<std::time_t> first;
    if (reader.done()) {
        first = LocalInstant(time);
    } else {
        const auto offset = ZoneOffset(reader);
        if (!offset || !reader.done()) return std::nullopt;
        first = timegm(&time) - *offset;
    }
    if (!first) return std::nullopt;
    return TimeSpan{*first, *first + (second ? 1 : 60), false};
}

// The store compares its times as text: the year has its four digits (0999, not 999), and an
// instant before the year 0000 or after 9999 (a bound given on their first or last day with a
// zone) is told as the first or last instant the text can hold.
std::string UtcText(std::time_t instant) {
    instant = std::clamp(instant, kFirstUtcInstant, kLastUtcInstant);
    std::tm utc{};
    gmtime_r(&instant, &utc);
    char text[80];  // room for any year the compiler can think of
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}
