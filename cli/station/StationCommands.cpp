#include "cli/station/StationCommands.h"

#include <filesystem>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/station/Station.h"
#include "cli/station/StationRecipe.h"
#include "cli/station/StationView.h"
#include "cli/store/RunStore.h"
#include "config/ConfigFile.h"
#include "config/RecordEncoding.h"
#include "config/ServiceCodes.h"

namespace {

int Refuse(Console& console, const std::string& text, int status) {
    console.message("k350ctl: " + text);
    return status;
}

StationRecipe RecipeOf(const StationArguments& arguments) {
    StationRecipe recipe =
        arguments.recipe ? LoadStationRecipe(*arguments.recipe) : StationRecipe{};
    if (!arguments.recipe) recipe.name = "command line";
    if (arguments.image) recipe.image = *arguments.image;
    if (arguments.reference) recipe.reference = *arguments.reference;
    if (arguments.description) recipe.description = *arguments.description;
    if (arguments.store) recipe.store = *arguments.store;
    recipe.verify = recipe.verify || arguments.verify;
    recipe.poll = recipe.poll || arguments.poll;
    recipe.reprocessPassed = recipe.reprocessPassed || arguments.reprocessPassed;
    if (arguments.soakSeconds) recipe.soak.seconds = *arguments.soakSeconds;
    if (arguments.maxErroneousPercent)
        recipe.soak.maxErroneousPercent = arguments.maxErroneousPercent;
    if (arguments.maxLostPercent) recipe.soak.maxLostPercent = arguments.maxLostPercent;
    if (arguments.maxJitterMs) recipe.soak.maxJitterMs = arguments.maxJitterMs;
    if (arguments.alertFailures) recipe.alert.failures = *arguments.alertFailures;
    if (arguments.alertOf) recipe.alert.of = *arguments.alertOf;
    if (arguments.onPass) recipe.hooks.onPass = *arguments.onPass;
    if (arguments.onFail) recipe.hooks.onFail = *arguments.onFail;
    if (arguments.hookTimeoutSeconds) recipe.hooks.timeoutSeconds = *arguments.hookTimeoutSeconds;
    return recipe;
}

// The level the job needs: the download needs the service code, the identity the full one.
bool HasStationAccess(const StationJob& job, const std::optional<std::string>& given,
                      Console& console) {
    const ServiceLevel needed = job.reference ? ServiceLevel::FullService
                                : job.image   ? ServiceLevel::Service
                                              : ServiceLevel::User;
    const std::string refusal = AccessRefusal(given, console, needed, "station");
    if (!refusal.empty()) console.message("k350ctl: " + refusal);
    return refusal.empty();
}

// Die IDs are kept as "0x" and 16 upper-case digits.
std::string NormalizedDie(std::string die) {
    for (std::size_t i = die.starts_with("0x") || die.starts_with("0X") ? 2 : 0; i < die.size();
         ++i) {
        die[i] = char(std::toupper(static_cast<unsigned char>(die[i])));
    }
    if (die.starts_with("0X")) die[1] = 'x';
    return die;
}

bool IsDate(const std::string& text) {
    if (text.size() < 10) return false;
    for (std::size_t i = 0; i < 10; ++i) {
        const bool dash = i == 4 || i == 7;
        if (dash ? text[i] != '-' : !std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

}  // namespace

int RunSetCommand(const SetArguments& arguments, Console& console) {
    ConfigSnapshot snapshot;
    const TCrc crc;
    if (LoadConfigFile(arguments.file, crc, snapshot) != LoadResult::Ok) {
        return Refuse(console,
                      "file " + arguments.file +
                          " cannot be used: not a 156-byte configuration with a valid CRC",
                      ExitStatus::File);
    }
    if (arguments.assignments.empty()) {
        return Refuse(console, "set needs at least one NAME=VALUE", ExitStatus::Usage);
    }
    for (const std::string& assignment : arguments.assignments) {
        const auto equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) {
            return Refuse(console, "\"" + assignment + "\" is not NAME=VALUE", ExitStatus::Usage);
        }
        const std::string refusal = SetRecordField(snapshot, assignment.substr(0, equals),
                                                   assignment.substr(equals + 1), crc);
        // Nothing is written unless every field was accepted.
        if (!refusal.empty()) return Refuse(console, refusal, ExitStatus::Usage);
    }
    RefreshCrc(crc, snapshot);
    const std::string output = arguments.output.value_or(arguments.file);
    if (SaveConfigFile(output, snapshot) != SaveResult::Ok) {
        return Refuse(console, "file " + output + " cannot be written", ExitStatus::File);
    }
    return ExitStatus::Ok;
}

int RunStationCommand(const StationArguments& arguments, Console& console) {
    StationJob job;
    try {
        job = BuildStationJob(RecipeOf(arguments));
    } catch (const RecipeFileError& error) {
        return Refuse(console, error.what(), ExitStatus::File);
    } catch (const RecipeError& error) {
        return Refuse(console, error.what(), ExitStatus::Usage);
    }
    if (!HasStationAccess(job, arguments.code, console)) return ExitStatus::Usage;
    try {
        OpenRunStore(job.store);  // created or upgraded now, not by the first board
    } catch (const StoreError& error) {
        return Refuse(console, error.what(), ExitStatus::File);
    }
    const bool table = console.errIsTerminal() && !arguments.json;
    StationView view(
        [&](const std::string& block) {
            if (table) {
                console.message(block);
            } else {
                console.data(block);
            }
        },
        table);
    PortWatch watch(job.alert);
    Station station(job, console.clock(), [&](const StationEvent& event) {
        view.show(event);
        for (const PortAlert& alert : watch.record(event)) view.showAlert(alert);
    });
    const StationCounts counts =
        station.run([&] { return console.interrupted(); }, arguments.boards);
    console.message("k350ctl: station: " + std::to_string(counts.passed) + " passed, " +
                    std::to_string(counts.failed) + " failed, " + std::to_string(counts.skipped) +
                    " skipped");
    return counts.failed > 0 ? ExitStatus::Failed : ExitStatus::Ok;
}

int RunHistoryCommand(const HistoryArguments& arguments, Console& console) {
    if (!arguments.since.empty() && !IsDate(arguments.since)) {
        return Refuse(console, "--since takes a date as YYYY-MM-DD, or a time after it",
                      ExitStatus::Usage);
    }
    const std::string location = arguments.store.value_or(kDefaultStore);
    const bool embedded = !location.starts_with("postgres");
    if (embedded && !std::filesystem::exists(location)) {
        return Refuse(console, "no store " + location + " (give it with --store)",
                      ExitStatus::File);
    }
    try {
        const auto runs = OpenRunStore(location)->history(
            {NormalizedSerial(arguments.serial), NormalizedDie(arguments.dieId), arguments.since});
        const std::string report = HistoryReport(runs, arguments.format);
        if (!report.empty()) console.text(report);
        return ExitStatus::Ok;
    } catch (const StoreError& error) {
        return Refuse(console, error.what(), ExitStatus::File);
    }
}
