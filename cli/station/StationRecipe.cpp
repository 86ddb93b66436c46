#include "cli/station/StationRecipe.h"

#include <toml++/toml.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <set>

#include "cli/FlashImage.h"
#include "config/ConfigFile.h"
#include "config/Cp1251.h"
#include "config/RecordDate.h"
#include "config/RecordRules.h"
#include "config/Sha256.h"

namespace {

using Keys = std::set<std::string>;

void RefuseUnknown(const toml::table& table, const Keys& known, const std::string& where) {
    for (const auto& [key, value] : table) {
        if (!known.count(std::string(key.str()))) {
            throw RecipeError("unknown key " + where + std::string(key.str()));
        }
    }
}

const toml::table* Section(const toml::table& root, const char* name) {
    const toml::node* node = root.get(name);
    if (!node) return nullptr;
    if (!node->is_table()) throw RecipeError(std::string("[") + name + "] must be a table");
    return node->as_table();
}

std::string Text(const toml::table& table, const char* key, const std::string& where) {
    const toml::node* node = table.get(key);
    if (!node) return {};
    if (!node->is_string()) throw RecipeError(where + key + " must be a text");
    return node->value<std::string>().value_or("");
}

bool Flag(const toml::table& table, const char* key, const std::string& where) {
    const toml::node* node = table.get(key);
    if (!node) return false;
    if (!node->is_boolean()) throw RecipeError(where + key + " must be true or false");
    return node->value<bool>().value_or(false);
}

std::optional<double> Number(const toml::table& table, const char* key, const std::string& where) {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    if (!node->is_number()) throw RecipeError(where + key + " must be a number");
    const double value = node->value<double>().value_or(0);
    if (value < 0) throw RecipeError(where + key + " must not be negative");
    return value;
}

// A path in the recipe is relative to the recipe's own folder.
std::string Beside(const std::string& recipe, const std::string& path) {
    if (path.empty() || std::filesystem::path(path).is_absolute()) return path;
    return (std::filesystem::path(recipe).parent_path() / path).lexically_normal().string();
}

}  // namespace

StationRecipe LoadStationRecipe(const std::string& path) {
    if (!std::filesystem::is_regular_file(path)) {
        throw RecipeFileError("recipe " + path + " cannot be opened");
    }
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& error) {
        const auto& begin = error.source().begin;
        throw RecipeError(path + ":" + std::to_string(begin.line) + ":" +
                          std::to_string(begin.column) + ": " + std::string(error.description()));
    }
    RefuseUnknown(
        root, {"name", "store", "firmware", "configuration", "soak", "station", "alert", "hooks"},
        "");
    StationRecipe recipe;
    recipe.name = Text(root, "name", "");
    if (recipe.name.empty()) recipe.name = std::filesystem::path(path).filename().string();
    const std::string store = Text(root, "store", "");
    recipe.store = store.starts_with("postgres") ? store : Beside(path, store);
    if (const toml::table* firmware = Section(root, "firmware")) {
        RefuseUnknown(*firmware, {"image", "verify", "poll"}, "firmware.");
        recipe.image = Beside(path, Text(*firmware, "image", "firmware."));
        recipe.verify = Flag(*firmware, "verify", "firmware.");
        recipe.poll = Flag(*firmware, "poll", "firmware.");
    }
    if (const toml::table* configuration = Section(root, "configuration")) {
        RefuseUnknown(*configuration, {"reference", "description"}, "configuration.");
        recipe.reference = Beside(path, Text(*configuration, "reference", "configuration."));
        recipe.description = Text(*configuration, "description", "configuration.");
    }
    if (const toml::table* soak = Section(root, "soak")) {
        RefuseUnknown(*soak,
                      {"seconds", "max_erroneous_percent", "max_lost_percent", "max_jitter_ms"},
                      "soak.");
        recipe.soak.seconds = Number(*soak, "seconds", "soak.").value_or(0);
        recipe.soak.maxErroneousPercent = Number(*soak, "max_erroneous_percent", "soak.");
        recipe.soak.maxLostPercent = Number(*soak, "max_lost_percent", "soak.");
        recipe.soak.maxJitterMs = Number(*soak, "max_jitter_ms", "soak.");
    }
    if (const toml::table* station = Section(root, "station")) {
        RefuseUnknown(*station, {"reprocess_passed", "store_retry_seconds"}, "station.");
        recipe.reprocessPassed = Flag(*station, "reprocess_passed", "station.");
        const auto retry = Number(*station, "store_retry_seconds", "station.");
        if (retry && !(*retry <= kLongestStoreRetry)) {
            throw RecipeError("station.store_retry_seconds must be a number from 0 to 86400");
        }
        recipe.storeRetrySeconds = retry.value_or(recipe.storeRetrySeconds);
    }
    if (const toml::table* alert = Section(root, "alert")) {
        RefuseUnknown(*alert, {"failures", "of"}, "alert.");
        recipe.alert.failures = int(Number(*alert, "failures", "alert.").value_or(3));
        recipe.alert.of = int(Number(*alert, "of", "alert.").value_or(5));
        if (recipe.alert.of < 1) throw RecipeError("alert.of must be 1 or more");
    }
    if (const toml::table* hooks = Section(root, "hooks")) {
        RefuseUnknown(*hooks, {"on_pass", "on_fail", "timeout_seconds"}, "hooks.");
        recipe.hooks.onPass = Text(*hooks, "on_pass", "hooks.");
        recipe.hooks.onFail = Text(*hooks, "on_fail", "hooks.");
        recipe.hooks.timeoutSeconds = Number(*hooks, "timeout_seconds", "hooks.").value_or(30);
        if (recipe.hooks.timeoutSeconds <= 0) {
            throw RecipeError("hooks.timeout_seconds must be more than 0");
        }
    }
    return recipe;
}

namespace {
std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return FormatRecordDate({local.tm_mday, local.tm_mon + 1, local.tm_year + 1900});
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
}
// Every board's description must fit its 64-byte field whole: a serial has 4 characters, a die
// ID 18, a line break is stored as 2 bytes.
void CheckDescription(const std::string& description) {
    std::string longest = description;
    for (const auto& [field, widest] : {std::pair<std::string, std::string>{"{serial}", "0000"},
                                        {"{die}", std::string(18, 'F')}}) {
        for (auto at = longest.find(field); at != std::string::npos; at = longest.find(field, at)) {
            longest.replace(at, field.size(), widest);
        }
    }
    const std::size_t bytes = Utf8ToCp1251(RecordRules::StoredLineBreaks(longest)).size();
    if (bytes > ConfigLength::Description) {
        throw RecipeError("the description \"" + description + "\" takes " + std::to_string(bytes) +
                          " characters with a serial and a die ID; the " + "field holds " +
                          std::to_string(ConfigLength::Description));
    }
}
}  // namespace

StationJob BuildStationJob(const StationRecipe& recipe) {
    StationJob job;
    if (!recipe.image.empty()) {
        FirmwareImage image;
        if (const std::string refusal = LoadFlashImage(recipe.image, image); !refusal.empty()) {
            throw RecipeFileError(refusal);
        }
        job.image = image.bytes;
        job.imageSha256 = Sha256Hex(*image.bytes);
    }
    if (!recipe.reference.empty()) {
        ConfigSnapshot reference;
        if (LoadConfigFile(recipe.reference, TCrc(), reference) != LoadResult::Ok) {
            throw RecipeFileError("reference configuration " + recipe.reference +
                                  " cannot be used: not a 156-byte file with a valid CRC");
        }
        job.reference = reference;
    }
    if (!job.image && !job.reference && recipe.soak.seconds <= 0) {
        throw RecipeError(
            "nothing to do: give a firmware image, a reference configuration or a soak");
    }
    CheckDescription(recipe.description);
    job.verify = recipe.verify;
    job.pollFlash = recipe.poll;
    job.descriptionTemplate = recipe.description;
    job.date = Today();
    job.soak = recipe.soak;
    job.recipe = recipe.name;
    job.station = HostName();
    job.store = recipe.store.empty() ? kDefaultStore : recipe.store;
    job.storeRetrySeconds = recipe.storeRetrySeconds;
    job.reprocessPassed = recipe.reprocessPassed;
    job.alert = recipe.alert;
    job.hooks = recipe.hooks;
    return job;
}

std::string JournalPath(const std::optional<std::string>& recipe) {
    const std::filesystem::path path =
        recipe ? std::filesystem::path(*recipe).replace_extension(".journal")
               : std::filesystem::path("k350-station.journal");
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    return (error ? path : absolute).lexically_normal().string();
}
