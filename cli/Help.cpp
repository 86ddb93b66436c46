#include "cli/Help.h"

#include <map>

namespace {
const char* const kGeneral = R"(Usage: k350ctl [OPTIONS] COMMAND [ARGUMENTS]

Drives K-350 controller boards on USB, as the service terminal does.

Commands:
  list                      every board: location, mode, capacity, die and chip ID
  read [-o FILE]            the configuration record into a .kcf file
  write FILE [--full]       a .kcf file into the board (56 bytes, or all 140)
  flash IMAGE [--verify]    a firmware image into the board's flash
  stats [--period S] [--count N] [--reset]
                            the board's link statistics
  trace [--channels LIST] [--duration S]
                            the bytes on the board's serial lines
  show FILE|board           every field of a configuration, decoded
  diff A B                  the fields in which two configurations differ

Options:
  --board LOCATION|DIEID    the board at a location as `list` prints it (001/004),
                            or with this die ID or unambiguous prefix of it
  --all                     every board in normal mode, all at once
  --code CODE               service code (or K350_SERVICE_CODE); flash needs the
                            service code, write --full the full service code
  --json                    machine-readable output
  -h, --help                this text; `k350ctl COMMAND --help` for one command
  --version                 the program's version

Exit status: 0 success, 1 the operation failed on a board (or the
configurations differ for diff), 2 usage error or ambiguous board choice,
3 no board, 4 a file that cannot be read or written.
)";

const std::map<std::string, const char*> kCommandHelp = {
    {"list", R"(Usage: k350ctl list [--json]

Lists every board with vendor and product ID 0451:9001 in bus and device order:
its location (bus/device as libusb names them), whether it works in normal
mode or only in boot mode, its capacity, die ID and chip ID. A board that
cannot be opened or claimed is listed with the reason.
)"},
    {"read", R"(Usage: k350ctl read [-o FILE] [--board B | --all] [--json]

Reads the board's 140-byte configuration record and saves it with the board's
IDs as a 156-byte .kcf file, CRC refreshed, as the terminal's Read and Save
do. Without -o the file is K350xx.kcf in the current folder; -o - writes the
156 bytes to standard output. With --all, FILE must contain {die}, which is
replaced by the board's die ID (16 hexadecimal digits).
)"},
    {"write", R"(Usage: k350ctl write FILE [--full] [--board B | --all] [--code CODE] [--json]

Checks FILE as the terminal's Open does (156 bytes, matching CRC) and writes
its settings, record bytes 0 to 55, into the board. --full writes all 140
bytes, board information included, and needs the full service code.
)"},
    {"flash", R"(Usage: k350ctl flash IMAGE [--verify] [--board B | --all] [--code CODE] [--json]

Downloads a raw firmware image as the terminal does: into the SPI flash in
normal mode (at most 131072 bytes), or to the boot loader when the board only
answers in boot mode. Needs the service code. --verify then reads the
programmed range back and fails at the first differing address; it is refused
in boot mode, where nothing can be read back.
)"},
    {"stats",
     R"(Usage: k350ctl stats [--period S] [--count N] [--reset] [--board B | --all] [--json]

Prints the board's 17 link and audio counters. --count N reads them N times,
one period (--period, 1 to 999 seconds, default 1) apart; --count 0 reads
until Ctrl+C. --reset sends the reset request first. With --json, one JSON
object per line and reading.
)"},
    {"trace", R"(Usage: k350ctl trace [--channels LIST] [--duration S] [--board B | --all] [--json]

Selects the traced streams (LIST of bus-rx, bus-tx, link-rx, link-tx, comma
separated; default all four), polls the board every 100 ms and prints each
trace record as the terminal's trace window shows it, until the duration ends
or Ctrl+C. With --json, one JSON object per line.
)"},
    {"show", R"(Usage: k350ctl show FILE|board [--board B] [--json]

Prints every field of a configuration by name in engineering units: of a
.kcf file, or of the record read from the board when the argument is the
word "board".
)"},
    {"diff", R"(Usage: k350ctl diff A B [--board B] [--json]

Prints the decoded fields in which two configurations differ, one per line as
"name: first -> second". A and B are .kcf files or the word "board". The exit
status is 1 when they differ and 0 when they are equal, as for diff(1).
)"},
};
}  // namespace

std::string HelpText(const std::string& command) {
    const auto found = kCommandHelp.find(command);
    return found == kCommandHelp.end() ? kGeneral : found->second;
}

std::string VersionText() {
    return "k350ctl " K350_VERSION "\n";
}
