#include "cli/CommandTable.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdlib>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Options.h"
#include "station/NumberRange.h"

namespace {

// Plain decimal digits with at most one point ("2", "0.5"): no sign, exponent, hexadecimal or
// blanks, which strtod would take and a script hardly means.
bool isDecimal(const std::string& text, bool whole) {
    int points = 0, digits = 0;
    for (char c : text) {
        if (c == '.') {
            ++points;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            ++digits;
        } else {
            return false;
        }
    }
    return digits > 0 && points <= (whole ? 0 : 1);
}

// A number option with its range: a value outside it is a usage error naming both.
void addNumber(CLI::App& command, const std::string& name, NumberRange range,
               std::function<void(double)> store) {
    command.add_option_function<std::string>(name, [name, range, store](const std::string& text) {
        const double value = isDecimal(text, range.whole) ? std::strtod(text.c_str(), nullptr) : -1;
        if (!range.holds(value)) {
            throw UsageProblem(name + " needs " + range.text() + ", not " + Quoted(text));
        }
        store(value);
    });
}

// A flag takes no value: "--full=no" is refused rather than read as a wish.
void addFlag(CLI::App& command, const std::string& name, bool& flag) {
    command.add_flag(name, flag)->disable_flag_override();
}

void noOptions(CLI::App&, Options&) {}

void readOptions(CLI::App& command, Options& options) {
    command.add_option_function<std::string>(
        "-o,--output", [&](const std::string& path) { options.output = path; });
}

void writeOptions(CLI::App& command, Options& options) {
    addFlag(command, "--full", options.full);
    addFlag(command, "--other-board", options.otherBoard);
}

void flashOptions(CLI::App& command, Options& options) {
    addFlag(command, "--verify", options.verify);
    addFlag(command, "--poll", options.poll);
}

void setOptions(CLI::App& command, Options& options) {
    command.add_option_function<std::string>(
        "-o,--output", [&](const std::string& path) { options.output = path; });
}

void text(CLI::App& command, const std::string& name, std::optional<std::string>& value) {
    command.add_option_function<std::string>(name,
                                             [&value](const std::string& given) { value = given; });
}

void alertOptions(CLI::App& command, Options& options) {
    addNumber(command, "--alert-failures", StationRange::AlertFailures,
              [&](double value) { options.alertFailures = int(value); });
    addNumber(command, "--alert-of", StationRange::AlertOf,
              [&](double value) { options.alertOf = int(value); });
}

// A station option: a change of the recipe's setting of the same meaning, applied over it.
void addSetting(CLI::App& command, const std::string& name, Options& options,
                std::function<void(StationSettings&, const std::string&)> set) {
    command.add_option_function<std::string>(name, [&options, set](const std::string& given) {
        options.station.push_back(
            [set, given](StationSettings& settings) { set(settings, given); });
    });
}

void addSetting(CLI::App& command, const std::string& name, NumberRange range, Options& options,
                std::function<void(StationSettings&, double)> set) {
    addNumber(command, name, range, [&options, set](double value) {
        options.station.push_back(
            [set, value](StationSettings& settings) { set(settings, value); });
    });
}

// A flag only turns its setting on: the recipe's "true" stays without it.
void addSettingFlag(CLI::App& command, const std::string& name, Options& options,
                    bool StationSettings::*flag) {
    command
        .add_flag_callback(name,
                           [&options, flag] {
                               options.station.push_back(
                                   [flag](StationSettings& settings) { settings.*flag = true; });
                           })
        ->disable_flag_override();
}

void stationOptions(CLI::App& command, Options& options) {
    text(command, "--recipe", options.recipe);
    addSetting(command, "--image", options,
               [](StationSettings& s, const std::string& path) { s.imagePath = path; });
    addSettingFlag(command, "--verify", options, &StationSettings::verify);
    addSettingFlag(command, "--poll", options, &StationSettings::pollFlash);
    addSetting(command, "--reference", options,
               [](StationSettings& s, const std::string& path) { s.referencePath = path; });
    addSetting(command, "--description", options,
               [](StationSettings& s, const std::string& text) { s.descriptionTemplate = text; });
    addSetting(command, "--soak", StationRange::SoakSeconds, options,
               [](StationSettings& s, double value) { s.soak.seconds = value; });
    addSetting(command, "--max-erroneous", StationRange::Percent, options,
               [](StationSettings& s, double value) { s.soak.maxErroneousPercent = value; });
    addSetting(command, "--max-lost", StationRange::Percent, options,
               [](StationSettings& s, double value) { s.soak.maxLostPercent = value; });
    addSetting(command, "--max-jitter", StationRange::Milliseconds, options,
               [](StationSettings& s, double value) { s.soak.maxJitterMs = value; });
    // Each --limit changes one limit of one measurement; given as often as needed.
    command.add_option_function<std::vector<std::string>>(
        "--limit", [&options](const std::vector<std::string>& given) {
            for (const std::string& limit : given) {
                options.station.push_back(
                    [limit](StationSettings& s) { ApplyLimitOption(s.limits, limit); });
            }
        });
    addSetting(command, "--store", options,
               [](StationSettings& s, const std::string& location) { s.store = location; });
    addSetting(command, "--operator", options,
               [](StationSettings& s, const std::string& name) { s.operatorName = name; });
    addSetting(command, "--lot", options,
               [](StationSettings& s, const std::string& lot) { s.lot = lot; });
    addSetting(command, "--store-retry", StationRange::StoreRetrySeconds, options,
               [](StationSettings& s, double value) { s.storeRetrySeconds = value; });
    addSetting(command, "--max-run", StationRange::MaxRunSeconds, options,
               [](StationSettings& s, double value) { s.maxRunSeconds = value; });
    addFlag(command, "--sync", options.sync);
    addSettingFlag(command, "--reprocess", options, &StationSettings::reprocessPassed);
    addNumber(command, "--boards", StationRange::Boards,
              [&](double value) { options.boards = int(value); });
    addSetting(command, "--alert-failures", StationRange::AlertFailures, options,
               [](StationSettings& s, double value) { s.alert.failures = int(value); });
    addSetting(command, "--alert-of", StationRange::AlertOf, options,
               [](StationSettings& s, double value) { s.alert.of = int(value); });
    addSetting(command, "--on-pass", options,
               [](StationSettings& s, const std::string& line) { s.hooks.onPass = line; });
    addSetting(command, "--on-fail", options,
               [](StationSettings& s, const std::string& line) { s.hooks.onFail = line; });
    addSetting(command, "--hook-timeout", StationRange::HookSeconds, options,
               [](StationSettings& s, double value) { s.hooks.timeoutSeconds = value; });
}

// What the commands that read the store share: the period, the CSV form and the store.
void storeReadingOptions(CLI::App& command, Options& options) {
    command.add_option("--since", options.since);
    command.add_option("--until", options.until);
    addFlag(command, "--csv", options.csv);
    text(command, "--store", options.store);
}

void historyOptions(CLI::App& command, Options& options) {
    command.add_option("--serial", options.serial);
    command.add_option("--die", options.die);
    storeReadingOptions(command, options);
}

void reportOptions(CLI::App& command, Options& options) {
    storeReadingOptions(command, options);
    command.add_option("--station", options.stationName);
    command.add_option("--port", options.port);
    text(command, "--recipe", options.recipe);
    command.add_option("--lot", options.lot);
    command.add_option("--image", options.image);
    command.add_option("--program-version", options.programVersion);
    text(command, "--html", options.html);
    addFlag(command, "--measurements", options.measurements);
    alertOptions(command, options);
}

void referenceOptions(CLI::App& command, Options& options) {
    text(command, "--kind", options.referenceKind);
    text(command, "--note", options.referenceNote);
    text(command, "--store", options.store);
}

void serveOptions(CLI::App& command, Options& options) {
    text(command, "--store", options.store);
    text(command, "--listen", options.listen);
    command.add_option_function<std::string>(
        "--allow-host", [&](const std::string& name) { options.allowHosts.push_back(name); });
    addNumber(command, "--stream-seconds", {1, 3600, true},
              [&](double value) { options.streamSeconds = int(value); });
}

void statsOptions(CLI::App& command, Options& options) {
    addNumber(command, "--period", {1, 999}, [&](double value) { options.period = value; });
    addNumber(command, "--count", {0, 1e9, true},
              [&](double value) { options.count = int(value); });
    addFlag(command, "--reset", options.reset);
}

void traceOptions(CLI::App& command, Options& options) {
    command.add_option("--channels", options.channels);
    addNumber(command, "--duration", {0, 86400}, [&](double value) { options.duration = value; });
}

const std::vector<CommandDefinition> kCommands = {
    {"list", "list", "every board: location, mode, capacity, die and chip ID",
     R"(Usage: k350ctl list [--json]

Lists every board with vendor and product ID 0451:9001 in bus and device order:
its location (bus/device as libusb names them), whether it works in normal
mode or only in boot mode, its capacity, die ID and chip ID. A board that
cannot be opened or claimed is listed with the reason.
)",
     0, false, noOptions, ListCommand, false},
    {"read", "read [-o FILE]", "the configuration record into a .kcf file",
     R"(Usage: k350ctl read [-o, --output FILE] [--board B | --all] [--json]

Reads the board's 140-byte configuration record and saves it with the board's
IDs as a 156-byte .kcf file, CRC refreshed, as the terminal's Read and Save
do. Without -o the file is K350xx.kcf in the current folder; -o - writes the
156 bytes to standard output. With --all, FILE must contain {die}, which is
replaced by the board's die ID (16 hexadecimal digits).
)",
     0, true, readOptions, ReadCommand, false},
    {"write", "write FILE [--full]", "a .kcf file into the board (56 bytes, or all 140)",
     R"(Usage: k350ctl write FILE [--full [--other-board]] [--board B] [--code CODE] [--json]

Checks FILE as the terminal's Open does (156 bytes, matching CRC) and writes
its settings, record bytes 0 to 55, into the board (with --all, into every
board). --full writes all 140 bytes, board information included, and needs
the full service code; it writes one board only, and one whose die ID is the
file's unless --other-board says to give it the file's identity all the same.
)",
     1, true, writeOptions, WriteCommand, false},
    {"flash", "flash IMAGE [--verify] [--poll]", "a firmware image into the board's flash",
     R"(Usage: k350ctl flash IMAGE [--verify] [--poll] [--board B | --all] [--code CODE] [--json]

Downloads a raw firmware image of 1 to 131072 bytes as the terminal does: into
the SPI flash in normal mode, or to the boot loader when the board only answers
in boot mode. Needs the service code. --verify then reads the programmed range
back and fails at the first differing address; in boot mode, where nothing can
be read back, it is refused before anything is sent. Ctrl+C, a termination
signal or a closed terminal let a download finish (a half-programmed flash does
not start); a second Ctrl+C stops it at once and leaves the flash incomplete.
--poll polls the flash's status right after each sector erase and page
program instead of pausing 800 ms and 1 ms first: the download then takes as
long as the flash is busy.
)",
     1, true, flashOptions, FlashCommand, false},
    {"stats", "stats [--period S] [--count N] [--reset]", "the board's link statistics",
     R"(Usage: k350ctl stats [--period S] [--count N] [--reset] [--board B | --all] [--json]

Prints the board's 17 link and audio counters. --count N (0 to 1000000000,
default 1) reads them N times, one period (--period, 1 to 999 seconds,
default 1) apart; --count 0 reads until Ctrl+C. --reset sends the reset
request first. With --json, one JSON object per line and reading.
)",
     0, true, statsOptions, StatsCommand, false},
    {"trace", "trace [--channels LIST] [--duration S]", "the bytes on the board's serial lines",
     R"(Usage: k350ctl trace [--channels LIST] [--duration S] [--board B | --all] [--json]

Selects the traced streams (LIST of bus-rx, bus-tx, link-rx, link-tx, comma
separated; default all four), polls the board every 100 ms and prints each
trace record as the terminal's trace window shows it, until the duration
(--duration, 0 to 86400 seconds; 0 polls once) ends, or without it until
Ctrl+C. With --json, one JSON object per line.
)",
     0, true, traceOptions, TraceCommand, false},
    {"show", "show FILE|board", "every field of a configuration, decoded",
     R"(Usage: k350ctl show FILE|board [--board B] [--json]

Prints every field of a configuration by name in engineering units: of a
.kcf file, or of the record read from the board when the argument is the
word "board".
)",
     1, true, noOptions, ShowCommand, false},
    {"diff", "diff A B", "the fields in which two configurations differ",
     R"(Usage: k350ctl diff A B [--board B] [--json]

Prints the decoded fields in which two configurations differ, one per line as
"name: first -> second". A and B are .kcf files or the word "board". The exit
status is 1 when they differ and 0 when they are equal, as for diff(1).
)",
     2, true, noOptions, DiffCommand, false},
    {"set", "set FILE NAME=VALUE... [-o OUT]", "change fields of a .kcf file by name",
     R"(Usage: k350ctl set FILE NAME=VALUE... [-o OUT]

Changes fields of a .kcf file by the names `show` prints, in the units it
prints them ("codec.left_input_gain=-6 dB", "uart.baud_rate=115200",
"board.serial=0042"); the unit may be left out. A value the terminal's
windows would not take is refused with the allowed values or range (exit
status 2) and nothing is written; so is one that would read back otherwise (a
baud rate the divisor cannot give exactly, with the nearest it can; a text
with a character Windows-1251 has no byte for). The CRC is refreshed and the file replaced
atomically: FILE itself, or OUT with -o.
)",
     2, false, setOptions, SetCommand, true},
    {"station",
     "station [--recipe FILE] [--image IMAGE] [--verify] [--poll] [--reference FILE] "
     "[--description TEXT] [--soak S] [--max-erroneous P] [--max-lost P] [--max-jitter MS] "
     "[--limit NAME.KEY=VALUE] [--store STORE] [--store-retry S] [--max-run S] [--sync] "
     "[--reprocess] [--boards N] [--operator NAME] [--lot TEXT] "
     "[--alert-failures N] [--alert-of N] [--on-pass CMD] [--on-fail CMD] [--hook-timeout S]",
     "the production sequence on every board plugged in",
     R"(Usage: k350ctl station [--recipe FILE] [options] [--code CODE] [--json]

Waits for boards and runs the whole production sequence on each as it is
plugged in, one worker per port: the firmware (--image, --verify, --poll),
the reference configuration (--reference) with the board's own serial number
from the store, today's date and a description (--description, with {serial}
and {die}) written at full service level, a read-back compared field by
field, and a soak (--soak S seconds of statistics, with --max-erroneous and
--max-lost in percent and --max-jitter in ms, the high limits of the soak's
worst readings). Every run records its measurements (flash busy times with
--poll, identify, step times, soak figures' mean and worst, each with its
unit, limits and outcome); --limit flash.program_ms.max.high=3 (keys low,
high, marginal_low, marginal_high) or the recipe's [limits] table sets them.
A board outside a limit fails at the step that measured it; one in the
marginal band passes and is counted marginal. A port whose series of a
measurement breaks a run rule (a point beyond the control limits, nine in a
row on one side, six rising or falling) is told as a "drift" alert. A board in boot mode gets the
image through its boot loader first; the download is a step of its run once
it comes back in normal mode. A board the station cannot take (no access,
held by another program, boot mode without an image) is named with why,
recorded as unusable and counted towards --boards. After a board ends, its
port waits for it to be unplugged. A board that passed before is skipped
unless --reprocess. A board in an unfinished run of another bench started
less than --max-run S ago (default: the soak and 600 s) is not started.
The recipe (TOML) gives the same settings; an option replaces the recipe's.
Its [serial] section chooses the serials: form "decimal" (0001 to 9999, the
default) or "alphanumeric" (0001 to ZZZZ), and the line's first and last.
The store (--store) is an SQLite file (default k350-line.sqlite) or a
postgresql:// URL. On a terminal one row per port; otherwise, or with --json,
one JSON line per step and per board. --boards N ends after N boards.
Ctrl+C finishes the boards in progress and stops; a second Ctrl+C stops at
once, names the boards left incomplete, records them as interrupted and
exits with 130 (143 after SIGTERM). Needs the full service code
to write the configuration, the service code for the firmware alone.
When --alert-failures of a port's last --alert-of boards failed (default 3
of 5) while another port of the station passes, the station says the port,
its cable, hub or fixture is suspect: on the table, or as a JSON line with
"alert". --alert-failures 0 turns this off.
--on-pass and --on-fail run a command with /bin/sh -c after a board passed
or failed, the run's record as a JSON line on its standard input and its
fields in K350_* variables; it is killed with what it started after
--hook-timeout seconds (default 30). Its output and status are kept with
the run; it never changes the board's result.
A store that goes away (an SQLite file locked for more than half a second
included) is waited for (--store-retry S, default 60 s) while the port shows
"waiting for the store"; a run it still cannot take is kept in the journal
named after the store in $STATE_DIRECTORY, $XDG_STATE_HOME/k350 (or
~/.local/state/k350), the recipe's folder or the current folder, the first the
station may write, and written to the store at the next start, or with --sync,
which only does that and ends (status 4 while runs are left, or when a damaged
journal line was put aside). A run kept neither in the store nor in a journal
stops the station: no new board, exit status 5.
Each run also records where its board came from: this k350ctl's version,
the operator (--operator NAME, else K350_OPERATOR), the lot (--lot TEXT, else
the recipe's lot; each UTF-8 without control characters, at most 64
characters, or exit status 2) and the SHA-256 of the recipe file.
)",
     0, false, stationOptions, StationCommand, false},
    {"history",
     "history [--serial N] [--die ID] [--since TIME] [--until TIME] [--csv] [--store STORE]",
     "the line's record of boards and runs",
     R"(Usage: k350ctl history [--serial N | --die ID] [--since TIME] [--until TIME] [--json | --csv]
                       [--store STORE]

Prints the runs the station recorded, oldest first: serial, die ID, station
and port, result and failed step, recipe, SHA-256 of the image and of the
configuration written, the times of each step and the soak's figures.
--since and --until (both included) take an ISO 8601 date (2026-12-09) or
time (2026-12-09T23:00, seconds optional, T or a space) with Z or an offset
(+03:00); a date or a time without either is local time. --json prints one
object per run, --csv a table with a header line. The store is only read: it
is opened read-only and never created or upgraded.
)",
     0, false, historyOptions, HistoryCommand, false},
    {"report",
     "report [--since TIME] [--until TIME] [--station HOST] [--port PORT] [--recipe NAME] "
     "[--lot TEXT] [--image SHA256] [--program-version V] "
     "[--csv | --html FILE | --measurements] [--alert-failures N] [--alert-of N] "
     "[--store STORE]",
     "the line's yield, times and failures by station and port",
     R"(Usage: k350ctl report [--since TIME] [--until TIME] [--station HOST] [--port PORT]
                      [--recipe NAME] [--lot TEXT] [--image SHA256] [--program-version V]
                      [--json | --csv | --html FILE] [--store STORE]

Counts the runs the station recorded in a period (default today; TIME is
YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS] in local time, or UTC ending in Z; a date
as --until includes its day), optionally of one station (host name), port or
recipe (the name it was recorded under): boards seen, passed, failed,
unusable and interrupted, first-pass yield and retests, the median and 95th
percentile of a passed board's time and of each step's, boards per hour,
and the failures by step and by error text, most frequent first; all of it
for the line, by station and by port. A port whose last --alert-of boards
(default 5) include --alert-failures failures (default 3) while the other
ports of its station pass is listed as suspect: look at the port, its cable,
hub or fixture. --json prints one object, --csv a row per line, station and
port, --html FILE a page with charts that needs nothing else to show or
print (- for standard output). Each measurement's capability (count, mean,
sigma within and overall, limits, Cpk, Ppk, marginal and failed), weakest
first, with a control chart and a histogram on the page, and the ports whose
series drift. --measurements prints every run's measurements as CSV rows.
--lot, --image (the image's SHA-256 or its start) and --program-version (of
the k350ctl that ran the board) count only the runs they name. Second-pass
yield: the boards that passed by their second run; last-pass: those whose
latest run passed. Reference boards (see reference) are in none of the
figures and are listed apart with their runs.
Only reads the store.
)",
     0, false, reportOptions, ReportCommand, false},
    {"reference",
     "reference mark DIE_ID --kind golden|known-bad [--note TEXT] | unmark DIE_ID | list "
     "[--store STORE]",
     "the line's golden and known-bad boards, kept out of the report's figures",
     R"(Usage: k350ctl reference mark DIE_ID --kind golden|known-bad [--note TEXT]
       k350ctl reference unmark DIE_ID
       k350ctl reference list [--json]
                       [--store STORE]

Marks a board by its die ID as a reference board: a golden unit plugged in to
check a fixture, or a known-bad sample kept to show that its fault is caught.
The station runs it as any board; report leaves its runs out of the yields,
the counts and the capability and lists them apart. Marking again replaces
the kind and the note. unmark takes the mark away (exit status 1 when the
board had none); list prints the marked boards, --json one object per board
(die_id, kind, note, marked_at). mark and unmark make or upgrade the store as
a station does; list only reads it.
)",
     1, false, referenceOptions, ReferenceCommand, true},
    {"serve", "serve [--store STORE] [--listen ADDR:PORT] [--allow-host NAME] [--stream-seconds S]",
     "the line live, the report and the metrics over HTTP",
     R"(Usage: k350ctl serve [--store STORE] [--listen ADDR:PORT] [--allow-host NAME]...
                     [--stream-seconds S]

Serves the line over HTTP at --listen (default 127.0.0.1:8350) until Ctrl+C
or a termination signal: / the line live, a card per bench (its recipe and
heartbeat; a bench silent for more than 15 s in red) with a tile per port
(the board's die ID and serial, its step and progress, the time in the step,
the last result), today's counts and first-pass yield and the suspect ports,
kept up to date by /events (Server-Sent Events); /report the report's page
(since, until, station, port and recipe as query parameters), /api/live and
/api/report the same as JSON, and /metrics for Prometheus. A store that goes
away is shown as unreachable and followed again when it is back. A request
whose Host is not the listen address, this machine's name or a name given
with --allow-host (repeatable; a proxy's or the line's DNS name) is refused.
Each page's stream of events ends after --stream-seconds (1 to 3600, default
300) and the page comes back for what followed, so no proxy or idle timeout
cuts it unseen. Only reads the store: a role that may only SELECT will do.
)",
     0, false, serveOptions, ServeCommand, false},
};

std::vector<std::string> namesOf(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        if (!option->nonpositional()) continue;
        for (const auto& name : option->get_snames()) names.push_back("-" + name);
        for (const auto& name : option->get_lnames()) names.push_back("--" + name);
    }
    return names;
}

}  // namespace

const std::vector<CommandDefinition>& CommandTable() {
    return kCommands;
}

const CommandDefinition* FindCommand(const std::string& name) {
    for (const CommandDefinition& command : kCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

void DeclareCommonOptions(CLI::App& program, Options& options) {
    addFlag(program, "-h,--help", options.help);
    addFlag(program, "--version", options.version);
    addFlag(program, "--json", options.json);
    program.add_option("--board", options.board);
    addFlag(program, "--all", options.all);
    program.add_option_function<std::string>("--code",
                                             [&](const std::string& code) { options.code = code; });
}

std::vector<CommandInterface> CommandInterfaces() {
    std::vector<CommandInterface> interfaces;
    for (const CommandDefinition& command : kCommands) {
        CLI::App app;
        app.set_help_flag();
        Options options;
        command.declareOptions(app, options);
        interfaces.push_back({command.name, namesOf(app)});
    }
    return interfaces;
}

std::vector<std::string> CommonOptionNames() {
    CLI::App app;
    app.set_help_flag();
    Options options;
    DeclareCommonOptions(app, options);
    return namesOf(app);
}
