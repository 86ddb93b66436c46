#include "config/RecordDate.h"

#include <cstdio>

namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int month, int year) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads minDigits..maxDigits decimal digits from text at position; nothing when fewer.
std::optional<int> TakeNumber(std::string_view text, std::size_t& position, std::size_t minDigits,
                              std::size_t maxDigits) {
    int value = 0;
    std::size_t digits = 0;
    while (position < text.size() && digits < maxDigits && text[position] >= '0' &&
           text[position] <= '9') {
        value = value * 10 + (text[position] - '0');
        ++position;
        ++digits;
    }
    if (digits < minDigits) return std::nullopt;
    return value;
}

bool TakeDot(std::string_view text, std::size_t& position) {
    if (position >= text.size() || text[position] != '.') return false;
    ++position;
    return true;
}

}  // namespace

std::string FormatRecordDate(const RecordDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", date.day % 100, date.month % 100,
                  date.year % 10000);
    return text;
}

std::optional<RecordDate> ParseRecordDate(std::string_view text) {
    std::size_t position = 0;
    const auto day = TakeNumber(text, position, 1, 2);
    if (!day || !TakeDot(text, position)) return std::nullopt;
    const auto month = TakeNumber(text, position, 1, 2);
    if (!month || !TakeDot(text, position)) return std::nullopt;
    const auto year = TakeNumber(text, position, 4, 4);
    if (!year || position != text.size()) return std::nullopt;
    if (*year < 1 || *month < 1 || *month > 12) return std::nullopt;
    if (*day < 1 || *day > DaysInMonth(*month, *year)) return std::nullopt;
    return RecordDate{*day, *month, *year};
}
