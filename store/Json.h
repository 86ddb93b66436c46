// k350ctl's JSON: objects keep their keys in the order they were added, one object per line.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

using Json = nlohmann::ordered_json;

// A number written exactly as given ("12.5000"): the statistics keep the window's decimals,
// which a floating-point value would lose.
Json JsonNumberText(const std::string& digits);

// The value on one line, UTF-8 as it is; bytes that are not UTF-8 become U+FFFD, so the line
// stays valid JSON whatever a file name holds.
std::string JsonText(const Json& value);
