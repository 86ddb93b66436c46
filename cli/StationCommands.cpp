#include "cli/StationCommands.h"

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "config/ConfigFile.h"
#include "config/RecordEncoding.h"
#include "config/ServiceCodes.h"
#include "report/TimeBound.h"
#include "station/EventJournal.h"
#include "station/JournalPlace.h"
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
// exit status when it failed. What opening it had to tell is told.
std::optional<int> StoreRefusal(Console& console, RunStore& store,
                                const std::function<void()>& work) {
    try {
        work();
        if (const std::string notice = store.openingNotice(); !notice.empty()) {
            console.message("k350ctl: " + notice);
        }
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

// What a replay of the journals came to.
struct Replay {
    bool allWritten = true;  // no run of the store is left in any journal
    bool damaged = false;    // a line could not be read back; it was put aside and said
    bool stopped = false;    // the operator stopped it; the rest stay
};

void SayDamaged(const RunJournal& journal, const JournalReplay& replay, Console& console) {
    for (const DamagedJournalLine& line : replay.damaged) {
        console.message("k350ctl: the journal " + journal.path() + " line " +
                        std::to_string(line.number) + " is damaged (" + line.reason +
                        "); it is kept in " + replay.damagedKeptIn +
                        "; the other runs are written");
    }
}

// Writes the runs of the store that the journals keep to it, the station's own first; a store
// that fails or a stop ends it, and what is left is said.
Replay Replayed(const std::vector<RunJournal*>& journals, RunStore& store,
                const std::string& location, Console& console,
                const std::function<bool()>& stopAfterRun) {
    Replay result;
    for (RunJournal* journal : journals) {
        if (!std::filesystem::exists(journal->path())) continue;
        try {
            const JournalReplay replay = journal->replay(store, location, stopAfterRun);
            SayDamaged(*journal, replay, console);
            result.damaged = result.damaged || !replay.damaged.empty();
            if (replay.written > 0) {
                console.message("k350ctl: " + std::to_string(replay.written) +
                                " run(s) from the journal " + journal->path() +
                                " written to the store");
            }
            result.stopped = replay.stopped;
        } catch (const StoreError& error) {
            console.message(StoreFailureText(error));
            result.stopped = IsWaitStopped(error);
            break;
        }
        if (result.stopped) break;
    }
    for (RunJournal* journal : journals) {
        const int left = journal->pending(location);
        if (left == 0) continue;
        result.allWritten = false;
        console.message("k350ctl: the journal " + journal->path() + " keeps " +
                        std::to_string(left) +
                        " run(s) the store has not taken; they are written at the station's "
                        "next start, or now with k350ctl station --sync");
    }
    return result;
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

namespace {

// The journals a station replays: its own (where it keeps runs), then those an older k350ctl
// or another of these folders may hold.
struct StationJournals {
    explicit StationJournals(const JournalPlace& place) : own(place.path) {
        for (const std::string& path : place.older)
            older.push_back(std::make_unique<RunJournal>(path));
    }
    std::vector<RunJournal*> all() {
        std::vector<RunJournal*> journals{&own};
        for (auto& journal : older) journals.push_back(journal.get());
        return journals;
    }
    RunJournal own;
    std::vector<std::unique_ptr<RunJournal>> older;
};

// How a replay answers the operator, each said at once (from the waits for the store as well):
// a signal that comes during it finishes the run under way and stops, a second stops now.
class ReplayStops {
public:
    explicit ReplayStops(Console& console) : console_(console) {}
    void begin() {
        signalsBefore_ = console_.signalsReceived();
        active_ = true;
    }
    void end() { active_ = false; }
    // After a run: whether to stop.
    bool afterRun() {
        say();
        return active_ && console_.signalsReceived() > signalsBefore_;
    }
    void say() {
        if (!active_) return;
        const int signals = console_.signalsReceived();
        if (signals > signalsBefore_ && !finishSaid_) {
            finishSaid_ = true;
            const std::string again =
                console_.stopCause() == std::string("Ctrl+C") ? "Ctrl+C again" : "a second signal";
            console_.message("k350ctl: the journal's replay stops after the run under way; " +
                             again + " stops now");
        }
        if (signals >= 2 && signals > signalsBefore_ && !nowSaid_) {
            nowSaid_ = true;
            console_.message("k350ctl: the journal's replay stops now");
        }
    }

private:
    Console& console_;
    int signalsBefore_ = 0;
    bool active_ = false, finishSaid_ = false, nowSaid_ = false;
};

}  // namespace

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
    const JournalPlace place = ChooseJournalPlace(
        settings.store, arguments.recipe, [&](const char* name) { return console.variable(name); });
    if (!place.problem.empty()) {
        console.message("k350ctl: no folder can take the journal (" + place.problem +
                        "); a run the store cannot take would be lost");
    }
    StationJournals journals(place);
    RunJournal& journal = journals.own;
    // Every signal is the command's own from here: a replay says how it stops.
    const Console::SignalAnswer answer(console);
    ReplayStops replayStops(console);
    // A wait for the store ends at once when the operator stops: before any board at the first
    // signal; during a replay, and once boards are taken, at the second (the first finishes
    // them, records included).
    int waitStopsAtSignal = 1;
    RetryingRunStore store(settings.store, console.clock(), settings.storeRetrySeconds,
                           SayWaiting(console, settings.storeRetrySeconds), [&] {
                               replayStops.say();
                               return console.signalsReceived() >= waitStopsAtSignal;
                           });
    const auto replay = [&] {
        const int before = waitStopsAtSignal;
        waitStopsAtSignal = 2;
        replayStops.begin();
        const Replay result = Replayed(journals.all(), store, settings.store, console,
                                       [&] { return replayStops.afterRun(); });
        replayStops.end();
        waitStopsAtSignal = before;
        return result;
    };
    if (arguments.sync) {
        if (const auto status = StoreRefusal(console, store, [&] { store.open(); })) {
            return *status;
        }
        const Replay synced = replay();
        if (synced.stopped) return console.stoppedStatus();
        if (!synced.allWritten || synced.damaged) return ExitStatus::File;
        console.message("k350ctl: the journal " + journal.path() + " keeps no run of this store");
        return ExitStatus::Ok;
    }
    // The bench's name in the record; the host's name unless one host carries several benches.
    if (const char* bench = console.variable("K350_STATION"); bench && *bench) job.station = bench;
    // The operator option, else the session's variable (a login script may set it).
    if (const char* name = console.variable("K350_OPERATOR"); name && job.operatorName.empty()) {
        job.operatorName = name;
    }
    // Every run keeps the names and every report shows them: refused now, before any serial is
    // taken, rather than by the store at each board.
    if (const std::string refusal = StationNamesProblem(job); !refusal.empty()) {
        return Refuse(console, refusal, ExitStatus::Usage);
    }
    if (!HasStationAccess(job, arguments.code, console)) return ExitStatus::Usage;
    // The store is made or upgraded now, not by the first board, and takes what the journal
    // kept from the last time; a store of the other serial form is refused before any board is
    // touched.
    if (const auto status = StoreRefusal(console, store, [&] {
            store.open();
            store.checkSerials(job.serials);
        })) {
        return *status;
    }
    if (replay().stopped || console.signalsReceived() > 0) return console.stoppedStatus();
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
    if (!table &&
        OutputIsJournal([&](const char* name) { return console.variable(name); }, STDOUT_FILENO)) {
        view.journalTo(EventJournal(SystemJournal(), job.station));
    }
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
        if (event.step == "station" && event.state == "unrecorded") {
            if (table) view.setNotice(event.error);
            console.message("k350ctl: " + event.error);
        }
        if (event.step == "board" && event.state == "interrupted") interrupted.push_back(event);
        view.show(event);
        for (const PortAlert& alert : watch.record(event)) view.showAlert(alert);
    };
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
    const bool recorded = journal.keptHere() == 0 || replay().allWritten;
    if (journal.lostHere() > 0) {
        console.message("k350ctl: " + std::to_string(journal.lostHere()) +
                        " run(s) could be kept neither in the store nor in the journal " +
                        journal.path() + "; their boards' lines hold them");
        return ExitStatus::Unrecorded;
    }
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
    // A period that ends before it begins holds no run: a mistyped bound, not an empty history.
    if (!filter.since.empty() && !filter.before.empty() && filter.before <= filter.since) {
        return Refuse(console,
                      "--until " + Quoted(arguments.until) + " is not after --since " +
                          Quoted(arguments.since) + ": the end of the period comes after its start",
                      ExitStatus::Usage);
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
