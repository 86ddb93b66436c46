#include "cli/Help.h"

#include "cli/CommandTable.h"

namespace {
constexpr std::size_t kSynopsisWidth = 26;

const char* const kUsage = R"(Usage: k350ctl [OPTIONS] COMMAND [ARGUMENTS]

Drives K-350 controller boards on USB, as the service terminal does.

Commands:
)";

const char* const kOptions = R"(
Options:
  --board LOCATION|DIEID    the board at a location as `list` prints it (001/004),
                            or with this die ID or unambiguous prefix of it
  --all                     every board in normal mode, all at once; a board
                            in boot mode or that cannot be opened is named as
                            failed
  --code CODE               service code (or K350_SERVICE_CODE); flash needs the
                            service code, write --full the full service code
  --json                    machine-readable output
  -h, --help                this text; `k350ctl COMMAND --help` for one command
  --version                 the program's version

A value follows its option as "--period 5" or "--period=5"; after "--" every
argument is an operand, even one starting with "-". Options of a command come
after it. Files are written atomically: a failed write leaves the old file as
it was. A refusal is one line and a hint on standard error; --json prints
nothing then.

Exit status: 0 success, 1 the operation failed on a board (or the
configurations differ for diff, or --all could not do a board it found),
2 usage error, a missing or wrong service code, or an ambiguous board choice,
3 no board, 4 a file that cannot be read or written (standard output
included), 5 the station kept a run neither in its store nor in a journal,
130 or 143 stopped by Ctrl+C or a termination signal before the set count or
duration, 141 standard output closed (its reader went away).
)";

// One command's lines in the general help: the synopsis, then the summary in its column.
std::string commandLines(const CommandDefinition& command) {
    std::string line = std::string("  ") + command.synopsis;
    if (line.size() < kSynopsisWidth + 2) {
        line.resize(kSynopsisWidth + 2, ' ');
    } else {
        line += "\n" + std::string(kSynopsisWidth + 2, ' ');
    }
    return line + command.summary + "\n";
}

std::string generalHelp() {
    std::string text = kUsage;
    for (const CommandDefinition& command : CommandTable()) text += commandLines(command);
    return text + kOptions;
}
}  // namespace

std::string HelpText(const std::string& name) {
    const CommandDefinition* command = FindCommand(name);
    return command ? command->help : generalHelp();
}

std::string VersionText() {
    return "k350ctl " K350_VERSION "\n";
}
