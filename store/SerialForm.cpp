#include "store/SerialForm.h"

#include <cctype>
#include <string_view>

namespace {
constexpr const char* kDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::size_t kWidth = 4;

int Base(SerialForm form) {
    return form == SerialForm::Decimal ? 10 : 36;
}
}  // namespace

const char* SerialFormName(SerialForm form) {
    return form == SerialForm::Decimal ? "decimal" : "alphanumeric";
}

std::optional<SerialForm> SerialFormNamed(const std::string& name) {
    if (name == "decimal") return SerialForm::Decimal;
    if (name == "alphanumeric") return SerialForm::Alphanumeric;
    return std::nullopt;
}

std::int64_t LastSerialNumber(SerialForm form) {
    std::int64_t last = 1;
    for (std::size_t i = 0; i < kWidth; ++i) last *= Base(form);
    return last - 1;
}

std::string SerialText(std::int64_t number, SerialForm form) {
    std::string text(kWidth, '0');
    for (std::size_t i = kWidth; i-- > 0 && number > 0; number /= Base(form)) {
        text[i] = kDigits[number % Base(form)];
    }
    return text;
}

std::optional<std::int64_t> SerialNumberOf(const std::string& text, SerialForm form) {
    if (text.size() != kWidth) return std::nullopt;
    std::int64_t number = 0;
    for (const char c : text) {
        const auto upper = char(std::toupper(static_cast<unsigned char>(c)));
        const std::string_view digits(kDigits, std::size_t(Base(form)));
        const auto digit = digits.find(upper);
        if (digit == std::string_view::npos) return std::nullopt;
        number = number * Base(form) + std::int64_t(digit);
    }
    return number;
}
