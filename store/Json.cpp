#include "store/Json.h"

#include <cstdlib>

namespace {
// A number's text travels as a binary value, a type no other value of k350ctl has: its
// unescaped form cannot come from a string, so it is found only where it was put.
const std::string kBinaryStart = "{\"bytes\":[";
const std::string kBinaryEnd = "],\"subtype\":null}";

std::string digitsOf(const std::string& list) {
    std::string digits;
    for (const char* at = list.c_str(); *at;) {
        char* end = nullptr;
        digits += char(std::strtol(at, &end, 10));
        at = *end == ',' ? end + 1 : end;
    }
    return digits;
}
}  // namespace

Json JsonNumberText(const std::string& digits) {
    return Json::binary(std::vector<std::uint8_t>(digits.begin(), digits.end()));
}

std::string JsonText(const Json& value) {
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    for (std::size_t at = text.find(kBinaryStart); at != std::string::npos;
         at = text.find(kBinaryStart, at)) {
        const std::size_t listStart = at + kBinaryStart.size();
        const std::size_t end = text.find(kBinaryEnd, listStart);
        const std::string digits = digitsOf(text.substr(listStart, end - listStart));
        text.replace(at, end + kBinaryEnd.size() - at, digits);
        at += digits.size();
    }
    return text;
}
