// The few JSON shapes k350ctl prints: flat objects of strings, numbers and booleans, and
// already-formed values nested into them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::string JsonString(std::string_view text);

class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view value);
    JsonObject& add(std::string_view key, const char* value) {
        return add(key, std::string_view(value));
    }
    JsonObject& add(std::string_view key, std::int64_t value);
    JsonObject& addBool(std::string_view key, bool value);
    JsonObject& addNull(std::string_view key);
    // value must already be valid JSON (a number in a fixed form, an array, an object).
    JsonObject& addRaw(std::string_view key, std::string_view value);
    std::string str() const { return "{" + body_ + "}"; }

private:
    void key(std::string_view name);
    std::string body_;
};
