// The date of the board information block: 10 characters dd.mm.yyyy, the form of the Russian
// locale the boards were first written under. It is stored in this form whatever the locale of
// the machine the terminal runs on, so that a record reads the same everywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct RecordDate {
    int day = 0, month = 0, year = 0;
    bool operator==(const RecordDate&) const = default;
};

// "15.03.2025": day and month with two digits, the year with four.
std::string FormatRecordDate(const RecordDate& date);
// Day and month of one or two digits ("1.2.2024" as well as "01.02.2024"), a four-digit year
// from 1 on; nothing when the text is no such date or names a day the calendar lacks.
std::optional<RecordDate> ParseRecordDate(std::string_view text);
