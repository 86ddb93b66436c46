// The times `history` and `report` are given (--since, --until), as ISO 8601 writes them: a date
// (2026-12-09), or a time with or without seconds after `T` or a space, with `Z` or an offset
// (2026-12-09T23:00Z, 2026-12-09 23:00:00+03:00). A date, and a time without a zone, are this
// machine's local time.
#pragma once

#include <ctime>
#include <optional>
#include <string>

// What a bound covers: its first instant, and the first instant after it (a date: the next
// local day; a time: the next second, or the next minute when it has no seconds).
struct TimeSpan {
    std::time_t first = 0, after = 0;
    bool wholeDay = false;  // given as a date
};

// Those forms, as a refusal names them.
constexpr const char* kTimeBoundForms =
    "give 2026-12-09, 2026-12-09T23:00 (local time), 2026-12-09T23:00Z or 2026-12-09T23:00+03:00";

// Nothing when the text is not one of those forms, or not a day or time that exists.
std::optional<TimeSpan> ParseTimeBound(const std::string& text);

// An instant as the store's UTC text, "2026-12-09T23:00:00Z"; one outside the years 0000 to 9999
// as the first or last instant of them.
std::string UtcText(std::time_t instant);
constexpr std::time_t kFirstUtcInstant = -62167219200;  // 0000-01-01T00:00:00Z
constexpr std::time_t kLastUtcInstant = 253402300799;   // 9999-12-31T23:59:59Z
