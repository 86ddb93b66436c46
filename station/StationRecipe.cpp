#include "station/StationRecipe.h"

#include <unistd.h>

#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "config/ConfigFile.h"
#include "config/Cp1251.h"
#include "config/RecordDate.h"
#include "config/RecordRules.h"
#include "config/Sha256.h"
#include "station/FlashImage.h"
#include "station/NumberRange.h"
#include "station/Toml.h"
#include "store/StoreText.h"

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

// The shortest text that reads back as the value ("4294967.5", "inf", "nan").
std::string NumberText(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::optional<double> Number(const toml::table& table, const char* key, const std::string& where,
                             NumberRange range) {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    if (!node->is_number()) throw RecipeError(where + key + " must be a number");
    const double value = node->value<double>().value_or(0);
    if (!range.holds(value)) {
        throw RecipeError(where + key + " needs " + range.text() + ", not " + NumberText(value));
    }
    return value;
}

// A serial of the plan's form, as the recipe writes it ("A000").
std::int64_t Serial(const toml::table& table, const char* key, const SerialPlan& plan) {
    const std::string text = Text(table, key, "serial.");
    const auto number = SerialNumberOf(text, plan.form);
    if (!number || *number < 1) {
        throw RecipeError(std::string("serial.") + key + " \"" + text + "\" is no " +
                          SerialFormName(plan.form) + " serial: 4 characters from " +
                          SerialText(1, plan.form) + " to " +
                          SerialText(LastSerialNumber(plan.form), plan.form));
    }
    return *number;
}

SerialPlan Serials(const toml::table& table) {
    RefuseUnknown(table, {"form", "first", "last"}, "serial.");
    SerialPlan plan;
    if (table.get("form")) {
        const auto form = SerialFormNamed(Text(table, "form", "serial."));
        if (!form) throw RecipeError("serial.form must be \"decimal\" or \"alphanumeric\"");
        plan.form = *form;
    }
    plan.last = LastSerialNumber(plan.form);
    if (table.get("first")) plan.first = Serial(table, "first", plan);
    if (table.get("last")) plan.last = Serial(table, "last", plan);
    if (plan.first > plan.last) {
        throw RecipeError("serial.first " + SerialText(plan.first, plan.form) +
                          " comes after serial.last " + SerialText(plan.last, plan.form));
    }
    return plan;
}

// [limits]: "name" = { high = 3.0, marginal_high = 2.5 }, each checked as an option's is.
LimitTable Limits(const toml::table& table) {
    LimitTable limits;
    for (const auto& [name, node] : table) {
        const std::string where = "limits.\"" + std::string(name.str()) + "\"";
        const toml::table* entry = node.as_table();
        if (!entry) throw RecipeError(where + " must be a table of limits");
        for (const auto& [key, value] : *entry) {
            if (!value.is_number()) {
                throw RecipeError(where + "." + std::string(key.str()) + " must be a number");
            }
            SetLimit(limits, std::string(name.str()), std::string(key.str()),
                     value.value<double>().value_or(0));
        }
        if (entry->empty()) throw RecipeError(where + " gives no limit");
    }
    CheckLimitOrder(limits);
    return limits;
}

// A path in the recipe is relative to the recipe's own folder.
std::string Beside(const std::string& recipe, const std::string& path) {
    if (path.empty() || std::filesystem::path(path).is_absolute()) return path;
    return (std::filesystem::path(recipe).parent_path() / path).lexically_normal().string();
}

}  // namespace

StationSettings LoadStationRecipe(const std::string& path) {
    if (!std::filesystem::is_regular_file(path)) {
        throw RecipeFileError("recipe " + path + " cannot be opened");
    }
    // The bytes hashed are the bytes parsed: a recipe edited meanwhile is not recorded as another.
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) throw RecipeFileError("recipe " + path + " cannot be read");
    toml::table root;
    try {
        root = toml::parse(bytes, path);
    } catch (const toml::parse_error& error) {
        const auto& begin = error.source().begin;
        throw RecipeError(path + ":" + std::to_string(begin.line) + ":" +
                          std::to_string(begin.column) + ": " + std::string(error.description()));
    }
    RefuseUnknown(root,
                  {"name", "lot", "store", "firmware", "configuration", "soak", "station", "alert",
                   "hooks", "serial", "limits"},
                  "");
    StationSettings recipe;
    recipe.recipeSha256 = Sha256Hex(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    recipe.lot = Text(root, "lot", "");
    recipe.recipe = Text(root, "name", "");
    if (recipe.recipe.empty()) recipe.recipe = std::filesystem::path(path).filename().string();
    const std::string store = Text(root, "store", "");
    recipe.store = store.starts_with("postgres") ? store : Beside(path, store);
    if (const toml::table* firmware = Section(root, "firmware")) {
        RefuseUnknown(*firmware, {"image", "verify", "poll"}, "firmware.");
        recipe.imagePath = Beside(path, Text(*firmware, "image", "firmware."));
        recipe.verify = Flag(*firmware, "verify", "firmware.");
        recipe.pollFlash = Flag(*firmware, "poll", "firmware.");
    }
    if (const toml::table* configuration = Section(root, "configuration")) {
        RefuseUnknown(*configuration, {"reference", "description"}, "configuration.");
        recipe.referencePath = Beside(path, Text(*configuration, "reference", "configuration."));
        recipe.descriptionTemplate = Text(*configuration, "description", "configuration.");
    }
    if (const toml::table* soak = Section(root, "soak")) {
        RefuseUnknown(*soak,
                      {"seconds", "max_erroneous_percent", "max_lost_percent", "max_jitter_ms"},
                      "soak.");
        recipe.soak.seconds =
            Number(*soak, "seconds", "soak.", StationRange::SoakSeconds).value_or(0);
        recipe.soak.maxErroneousPercent =
            Number(*soak, "max_erroneous_percent", "soak.", StationRange::Percent);
        recipe.soak.maxLostPercent =
            Number(*soak, "max_lost_percent", "soak.", StationRange::Percent);
        recipe.soak.maxJitterMs =
            Number(*soak, "max_jitter_ms", "soak.", StationRange::Milliseconds);
    }
    if (const toml::table* station = Section(root, "station")) {
        RefuseUnknown(*station, {"reprocess_passed", "store_retry_seconds", "max_run_seconds"},
                      "station.");
        recipe.reprocessPassed = Flag(*station, "reprocess_passed", "station.");
        recipe.storeRetrySeconds =
            Number(*station, "store_retry_seconds", "station.", StationRange::StoreRetrySeconds)
                .value_or(recipe.storeRetrySeconds);
        recipe.maxRunSeconds =
            Number(*station, "max_run_seconds", "station.", StationRange::MaxRunSeconds);
    }
    if (const toml::table* alert = Section(root, "alert")) {
        RefuseUnknown(*alert, {"failures", "of"}, "alert.");
        recipe.alert.failures =
            int(Number(*alert, "failures", "alert.", StationRange::AlertFailures).value_or(3));
        recipe.alert.of = int(Number(*alert, "of", "alert.", StationRange::AlertOf).value_or(5));
    }
    if (const toml::table* hooks = Section(root, "hooks")) {
        RefuseUnknown(*hooks, {"on_pass", "on_fail", "timeout_seconds"}, "hooks.");
        recipe.hooks.onPass = Text(*hooks, "on_pass", "hooks.");
        recipe.hooks.onFail = Text(*hooks, "on_fail", "hooks.");
        recipe.hooks.timeoutSeconds =
            Number(*hooks, "timeout_seconds", "hooks.", StationRange::HookSeconds).value_or(30);
    }
    if (const toml::table* serial = Section(root, "serial")) recipe.serials = Serials(*serial);
    if (const toml::table* limits = Section(root, "limits")) recipe.limits = Limits(*limits);
    CheckSoakMaxima(recipe.limits, recipe.soak);
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
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Every board's description must fit its field whole and as written: a serial has 4
// characters, a die ID 18.
void CheckDescription(const std::string& description) {
    if (const std::string character = FirstUnencodable(description); !character.empty()) {
        throw RecipeError("the description \"" + description + "\": " + character);
    }
    const std::string problem =
        DescriptionProblem(ExpandedDescription(description, "0000", std::string(18, 'F')));
    if (!problem.empty()) {
        throw RecipeError("the description \"" + description +
                          "\" with a serial and a die ID: " + problem);
    }
}
}  // namespace

std::string StationNamesProblem(const StationJob& job) {
    if (const std::string problem = NameProblem(job.station, kBenchNameLength); !problem.empty()) {
        return "the bench name " + Quoted(job.station) + " (the host's, or K350_STATION) " +
               problem;
    }
    if (const std::string problem = NameProblem(job.recipe, kRecipeNameLength); !problem.empty()) {
        return "the recipe name " + Quoted(job.recipe) + " (its name, or its file's) " + problem;
    }
    if (const std::string problem = NameProblem(job.operatorName, kOperatorNameLength);
        !problem.empty()) {
        return "the operator " + Quoted(job.operatorName) + " (--operator, or K350_OPERATOR) " +
               problem;
    }
    if (const std::string problem = NameProblem(job.lot, kLotLength); !problem.empty()) {
        return "the lot " + Quoted(job.lot) + " (--lot, or the recipe's lot) " + problem;
    }
    return {};
}

void SetRunOrigin(RunRecord& run, const StationJob& job) {
    run.programVersion = K350_VERSION;
    run.operatorName = job.operatorName;
    run.lot = job.lot;
    run.recipeSha256 = job.recipeSha256;
}

std::string ExpandedDescription(const std::string& descriptionTemplate, const std::string& serial,
                                const std::string& dieId) {
    return RecordRules::StoredLineBreaks(
        Replaced(Replaced(descriptionTemplate, "{serial}", serial), "{die}", dieId));
}

std::string DescriptionProblem(const std::string& expanded) {
    if (const std::string character = FirstUnencodable(expanded); !character.empty()) {
        return character;
    }
    const std::size_t bytes = Utf8ToCp1251(expanded).size();
    if (bytes <= ConfigLength::Description) return {};
    return "takes " + std::to_string(bytes) + " characters; the field holds " +
           std::to_string(ConfigLength::Description);
}

StationSettings LoadStationSettings(const std::optional<std::string>& recipe,
                                    const std::vector<StationChange>& changes) {
    StationSettings settings = recipe ? LoadStationRecipe(*recipe) : StationSettings{};
    if (!recipe) settings.recipe = "command line";
    for (const StationChange& change : changes) change(settings);
    if (settings.store.empty()) settings.store = kDefaultStore;
    return settings;
}

StationJob BuildStationJob(const StationSettings& settings) {
    StationJob job;
    static_cast<StationSettings&>(job) = settings;
    if (!settings.imagePath.empty()) {
        FirmwareImage image;
        if (const std::string refusal = LoadFlashImage(settings.imagePath, image);
            !refusal.empty()) {
            throw RecipeFileError(refusal);
        }
        job.image = image.bytes;
        job.imageSha256 = Sha256Hex(*image.bytes);
    }
    if (!settings.referencePath.empty()) {
        ConfigSnapshot reference;
        if (LoadConfigFile(settings.referencePath, TCrc(), reference) != LoadResult::Ok) {
            throw RecipeFileError("reference configuration " + settings.referencePath +
                                  " cannot be used: not a 156-byte file with a valid CRC");
        }
        job.reference = reference;
    }
    if (!job.image && !job.reference && settings.soak.seconds <= 0) {
        throw RecipeError(
            "nothing to do: give a firmware image, a reference configuration or a soak");
    }
    CheckDescription(settings.descriptionTemplate);
    // A soak maximum from the command line over the recipe's limits may leave them out of order.
    CheckLimitOrder(WithSoakMaxima(settings.limits, settings.soak));
    job.date = Today();
    job.host = HostName();
    job.station = job.host;
    if (job.store.empty()) job.store = kDefaultStore;
    return job;
}
