#include "cli/Json.h"

#include <cstdio>

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
                    out += escaped;
                } else {
                    out += char(c);
                }
        }
    }
    return out + "\"";
}

void JsonObject::key(std::string_view name) {
    if (!body_.empty()) body_ += ",";
    body_ += JsonString(name) + ":";
}

JsonObject& JsonObject::add(std::string_view name, std::string_view value) {
    key(name);
    body_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, std::int64_t value) {
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::addBool(std::string_view name, bool value) {
    key(name);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::addNull(std::string_view name) {
    key(name);
    body_ += "null";
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view name, std::string_view value) {
    key(name);
    body_ += value;
    return *this;
}
