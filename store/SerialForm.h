// The serial number's forms within the record's 4-character field: decimal, "0001" to "9999",
// or alphanumeric, digits and capital Latin letters counting in base 36, "0001" to "ZZZZ". A line
// takes its serials from a range of one form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class SerialForm { Decimal, Alphanumeric };

// "decimal" or "alphanumeric", as recipes and the store name them.
const char* SerialFormName(SerialForm form);
std::optional<SerialForm> SerialFormNamed(const std::string& name);

// The highest number the form writes in 4 characters: 9999, or 36^4 - 1 ("ZZZZ").
std::int64_t LastSerialNumber(SerialForm form);

// The fixed-width text of serial number n.
std::string SerialText(std::int64_t number, SerialForm form = SerialForm::Decimal);
// The number a text of 4 characters of the form stands for (lower-case letters count as
// capitals); nothing for any other text.
std::optional<std::int64_t> SerialNumberOf(const std::string& text, SerialForm form);

// The serials a line gives: of one form, from first to last.
struct SerialPlan {
    SerialForm form = SerialForm::Decimal;
    std::int64_t first = 1, last = LastSerialNumber(SerialForm::Decimal);
};

constexpr std::int64_t kLastSerial = 9999;
