#include "cli/StationCommands.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <tuple>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "config/ConfigFile.h"
#include "config/RecordEncoding.h"
#include "config/ServiceCodes.h"
#include "report/TimeBound.h"
#include "station/Station.h"
#include "station/StationRecipe.h"
#include "station/StationView.h"
#include "store/RetryingRunStore.h"
#include "store/RunJournal.h"
#include "store/RunStore.h"

namespace {

int Refuse(Console& console, const std::string& text, int status) {
    console.message("k350ctl: " + text);
    return status;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

// A store's failure as the operator reads it: a wait they stopped says so.
std::string StoreFailureText(const StoreError& error) {
    return (IsWaitStopped(error) ? "k350ctl: stopped while waiting for the store: " : "k350ctl: ") +
           std::string(error.what());
}

// Work on the store before any board (waited for as long as a board would wait for it); the
// exit status when it failed.
std::optional<int> StoreRefusal(Console& console, const std::function<void()>& work) {
    try {
        work();
        return std::nullopt;
    } catch (const StoreError& error) {
        console.message(StoreFailureText(error));
        if (IsWaitStopped(error)) return console.stoppedStatus();
        return ExitStatus::File;
    }
}

RetryingRunStore::Waiting SayWaiting(Console& console, double retrySeconds) {
    return [&console, retrySeconds](const std::string& fault) {
        console.message(fault.empty() ? std::string("k350ctl: the store is back")
                                      : "k350ctl: waiting for the store (up to " +
                                            Seconds(retrySeconds) + "): " + fault);
    };
}

// Writes the journal's runs of the store to it; false when some stay.
bool Replayed(RunJournal& journal, RunStore& store, const std::string& location, Console& console) {
    try {
        const int written = journal.replay(store, location);
        if (written > 0) {
            console.message("k350ctl: " + std::to_string(written) + " run(s) from the journal " +
                            journal.path() + " written to the store");
        }
    } catch (const StoreError& error) {
        console.message(StoreFailureText(error));
    }
    const int left = journal.pending(location);
    if (left == 0) return true;
    console.message("k350ctl: the journal " + journal.path() + " keeps " + std::to_string(left) +
                    " run(s) the store has not taken; they are written at the station's next "
                    "start, or now with k350ctl station --sync");
    return false;
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

// The alert goes on from the ports' last runs in the store. Read once, at the start: a store that
// cannot tell them now leaves the alert counting from this start, and the station runs on.
void RememberPorts(PortWatch& watch, StationView& view, const StationJob& job, Console& console) {
    try {
        const RecentVerdicts recent = RememberedVerdicts(job.store, job.station, job.alert);
        for (const PortAlert& alert : watch.remember(recent)) view.showAlert(alert);
    } catch (const StoreError& error) {
        console.message(
            "k350ctl: the ports' last runs could not be read, so the suspect-port "
            "alert counts from this start: " +
            std::string(error.what()));
    }
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
    StationSettings settings;
    StationJob job;
    try {
        settings = LoadStationSettings(arguments.recipe, arguments.changes);
        if (!arguments.sync) job = BuildStationJob(settings);
    } catch (const RecipeFileError& error) {
        return Refuse(console, error.what(), ExitStatus::File);
    } catch (const RecipeError& error) {
        return Refuse(console, error.what(), ExitStatus::Usage);
    }
    RunJournal journal(JournalPath(arguments.recipe));
    // A wait for the store ends at once when the operator stops: before any board at the first
    // signal, once boards are taken at the second (the first finishes them, records included).
    int waitStopsAtSignal = 1;
    RetryingRunStore store(settings.store, console.clock(), settings.storeRetrySeconds,
                           SayWaiting(console, settings.storeRetrySeconds),
                           [&] { return console.signalsReceived() >= waitStopsAtSignal; });
    if (arguments.sync) {
        if (const auto status = StoreRefusal(console, [&] { store.open(); })) return *status;
        if (!Replayed(journal, store, settings.store, console)) return ExitStatus::File;
        console.message("k350ctl: the journal " + journal.path() + " keeps no run of this store");
        return ExitStatus::Ok;
    }
    // The bench's name in the record; the host's name unless one host carries several benches.
    if (const char* bench = console.variable("K350_STATION"); bench && *bench) job.station = bench;
    if (!HasStationAccess(job, arguments.code, console)) return ExitStatus::Usage;
    // The store is made or upgraded now, not by the first board, and takes what the journal
    // kept from the last time; a store of the other serial form is refused before any board is
    // touched.
    if (const auto status = StoreRefusal(console, [&] {
            store.open();
            store.checkSerials(job.serials);
        })) {
        return *status;
    }
    Replayed(journal, store, settings.store, console);
    job.journal = &journal;
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
    RememberPorts(watch, view, job, console);
    std::vector<StationEvent> interrupted;
    const auto observe = [&](const StationEvent& event) {
        if (event.step == "station" && event.state == "stopping") {
            const std::string again =
                console.stopCause() == std::string("Ctrl+C") ? "Ctrl+C again" : "a second signal";
            const std::string text = StationView::StoppingText(event.done, event.total, again);
            if (table) view.setNotice(text);
            // On standard error in any case: a table drawn again later does not hide it.
            if (!table) console.message("k350ctl: " + text);
        }
        if (event.step == "board" && event.state == "interrupted") interrupted.push_back(event);
        view.show(event);
        for (const PortAlert& alert : watch.record(event)) view.showAlert(alert);
    };
    const Console::SignalAnswer answer(console);
    waitStopsAtSignal = 2;
    Station station(job, console.clock(), observe);
    const StationCounts counts = station.run(
        [&] {
            const int signals = console.signalsReceived();
            return signals == 0   ? StationStop::None
                   : signals == 1 ? StationStop::Finish
                                  : StationStop::Now;
        },
        arguments.boards);
    for (const StationEvent& board : interrupted) {
        console.message(
            "k350ctl: " + board.port +
            (board.dieId.empty() ? "" : " (die " + board.dieId + ", serial " + board.serial + ")") +
            ": " + board.error);
    }
    console.message("k350ctl: station: " + std::to_string(counts.passed) + " passed, " +
                    std::to_string(counts.failed) + " failed, " + std::to_string(counts.skipped) +
                    " skipped, " + std::to_string(counts.unusable) + " unusable, " +
                    std::to_string(counts.interrupted) + " interrupted");
    // A run only the journal holds is not done: once more, and otherwise said.
    const bool recorded =
        journal.keptHere() == 0 || Replayed(journal, store, settings.store, console);
    const bool cutShort =
        console.signalsReceived() > 1 || (console.signalsReceived() == 1 && arguments.boards > 0 &&
                                          counts.ended() < arguments.boards);
    if (cutShort) return console.stoppedStatus();
    if (!recorded) return ExitStatus::File;
    return counts.failed + counts.unusable + counts.interrupted > 0 ? ExitStatus::Failed
                                                                    : ExitStatus::Ok;
}

int RunHistoryCommand(const HistoryArguments& arguments, Console& console) {
    HistoryFilter filter{NormalizedSerial(arguments.serial), NormalizedDie(arguments.dieId)};
    for (const auto& [name, given, bound] :
         {std::tuple{"--since", &arguments.since, &filter.since},
          std::tuple{"--until", &arguments.until, &filter.before}}) {
        if (given->empty()) continue;
        const auto span = ParseTimeBound(*given);
        if (!span) {
            return Refuse(console,
                          std::string(name) + " " + Quoted(*given) +
                              " is not an ISO 8601 date or time: " + kTimeBoundForms,
                          ExitStatus::Usage);
        }
        *bound = UtcText(bound == &filter.since ? span->first : span->after);
    }
    try {
        const auto runs = OpenRunStore(arguments.store.value_or(kDefaultStore), StoreAccess::Read)
                              ->history(filter);
        const std::string report = HistoryReport(runs, arguments.format);
        if (!report.empty()) console.text(report);
        return ExitStatus::Ok;
    } catch (const StoreError& error) {
        return Refuse(console, error.what(), ExitStatus::File);
    }
}
