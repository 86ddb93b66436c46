#include "store/StoreIdentity.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "config/Sha256.h"
#include "store/RunStore.h"
#include "store/StoreText.h"

namespace {

constexpr std::size_t kReadableLength = 48;
constexpr std::size_t kHashDigits = 8;

struct OptionsFree {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using Options = std::unique_ptr<PQconninfoOption, OptionsFree>;

std::map<std::string, std::string> Given(const PQconninfoOption* options) {
    std::map<std::string, std::string> values;
    for (const PQconninfoOption* option = options; option && option->keyword; ++option) {
        if (option->val && *option->val) values[option->keyword] = option->val;
    }
    return values;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The parts that name the database: the location's, else libpq's environment and defaults;
// empty when libpq cannot parse the location.
std::map<std::string, std::string> PostgresParts(const std::string& location) {
    char* error = nullptr;
    const Options parsed(PQconninfoParse(location.c_str(), &error));
    PQfreemem(error);
    if (!parsed) return {};
    std::map<std::string, std::string> parts = Given(parsed.get());
    const Options defaults(PQconndefaults());
    for (const auto& [key, value] : Given(defaults.get())) parts.emplace(key, value);
    if (!parts.count("host") && parts.count("hostaddr")) parts["host"] = parts["hostaddr"];
    if (!parts.count("dbname") && parts.count("user")) parts["dbname"] = parts["user"];
    parts["host"] = Lower(parts["host"]);
    return parts;
}

std::string PostgresIdentity(const std::string& location) {
    auto parts = PostgresParts(location);
    // Never reached by libpq either: named as given, its password masked.
    if (parts.empty()) return "postgresql:" + ShownLocation(location);
    std::string identity =
        "postgresql://" + parts["host"] + ":" + parts["port"] + "/" + parts["dbname"];
    if (!parts["service"].empty()) identity += "?service=" + parts["service"];
    return identity;
}

std::string SqliteIdentity(const std::string& location) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(location, error);
    if (error) return "sqlite:" + location;
    const auto canonical = std::filesystem::weakly_canonical(absolute, error);
    return "sqlite:" + (error ? absolute.lexically_normal() : canonical).string();
}

std::string Readable(const std::string& location) {
    if (!IsPostgresLocation(location)) {
        return std::filesystem::path(location).filename().string();
    }
    auto parts = PostgresParts(location);
    if (parts.empty()) return "postgresql";
    const std::string host = parts["host"].empty() || parts["host"].starts_with("/")
                                 ? std::string("local")
                                 : parts["host"];
    return parts["dbname"] + "@" + host + "-" + parts["port"];
}

std::string FileNameSafe(const std::string& text) {
    std::string safe;
    for (unsigned char c : text.substr(0, kReadableLength)) {
        safe += std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '@' ? char(c) : '_';
    }
    if (safe.empty() || safe.starts_with(".")) safe = "store" + safe;
    return safe;
}

}  // namespace

std::string StoreIdentity(const std::string& location) {
    return IsPostgresLocation(location) ? PostgresIdentity(location) : SqliteIdentity(location);
}

std::string JournalFileName(const std::string& location) {
    const std::string identity = StoreIdentity(location);
    const std::string hash = Sha256Hex(std::vector<std::uint8_t>(identity.begin(), identity.end()))
                                 .substr(0, kHashDigits);
    return FileNameSafe(Readable(location)) + "-" + hash + ".journal";
}
