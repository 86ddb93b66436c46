// read: the record as the terminal's Read then Save writes it.
#include <cerrno>
#include <cstring>

#include "cli/CommandSupport.h"
#include "config/ConfigImage.h"
#include "config/PosixFile.h"
#include "config/RecordRules.h"

using RecordRules::DeviceIdText;

namespace {
constexpr const char* kDefaultFileName = "K350xx.kcf";
constexpr const char* kDiePlaceholder = "{die}";

std::string fileNameFor(const std::string& pattern, const ConfigSnapshot& snapshot) {
    std::string name = pattern;
    const std::string die = DeviceIdText(snapshot.data() + ConfigOffset::DieId).substr(2);
    for (std::size_t at = name.find(kDiePlaceholder); at != std::string::npos;
         at = name.find(kDiePlaceholder, at + die.size())) {
        name.replace(at, std::string(kDiePlaceholder).size(), die);
    }
    return name;
}

// What went wrong, with the system's reason (no such folder, permission, a folder's name).
std::string writeProblem(AtomicWriteResult result, int error) {
    const std::string why = error == 0 ? "the name ends in a folder" : std::strerror(error);
    return std::string(result == AtomicWriteResult::CannotCreate ? "cannot be created: "
                                                                 : "cannot be written: ") +
           why;
}

BoardResult readBoard(const Options& options, Console& console, BoardSession& session) {
    ShowProgress(session, console);
    const OperationResult<ConfigSnapshot> read = session.readConfig();
    if (!read.done()) {
        return ReportFailure(options, console, session, OperationFailure(session, read.ending));
    }
    ConfigSnapshot snapshot = read.value;
    // Save refreshes the CRC word, which would pass a damaged record off as a sound one.
    const bool crcMatched = StoredCrc(snapshot) == ComputeCrc(TCrc(), snapshot);
    if (!crcMatched) {
        console.message(session.location().text() +
                        ": warning: the board's stored CRC word does not match its record; the "
                        "file gets a refreshed one");
    }
    RefreshCrc(TCrc(), snapshot);
    const std::string path = fileNameFor(options.output.value_or(kDefaultFileName), snapshot);
    if (path == "-") {
        console.rawData(snapshot.data(), kSnapshotSize);
    } else {
        errno = 0;
        const AtomicWriteResult result = WriteFileAtomically(path, snapshot.data(), kSnapshotSize);
        const int error = errno;
        if (result != AtomicWriteResult::Ok) {
            return ReportFailure(
                options, console, session,
                {ExitStatus::File, "file " + Quoted(path) + " " + writeProblem(result, error)});
        }
    }
    if (options.json) {
        Json object = BoardJson(session, true);
        object["die_id"] = DeviceIdText(snapshot.data() + ConfigOffset::DieId);
        object["chip_id"] = DeviceIdText(snapshot.data() + ConfigOffset::ChipId);
        object["file"] = path;
        object["bytes"] = kSnapshotSize;
        object["stored_crc_matched"] = crcMatched;
        console.data(JsonText(object));
    } else if (path != "-") {
        console.message(session.location().text() + ": configuration saved to " + path);
    }
    return {};
}
}  // namespace

int ReadCommand(const Options& options, Console& console) {
    if (options.all && options.output.value_or("").find(kDiePlaceholder) == std::string::npos) {
        return Refuse(console, "read --all needs -o FILE with {die} in the name");
    }
    if (options.output && options.output->empty()) {
        return Refuse(console, "-o needs a file name");
    }
    if (options.output == "-" && options.json) {
        return Refuse(console, "-o - and --json both want standard output");
    }
    const BoardChoice choice = ChooseBoards(options.board, options.all, console);
    if (choice.status != ExitStatus::Ok) return choice.status;
    return RunOnBoards(choice, options, console,
                       [&](BoardSession& session) { return readBoard(options, console, session); });
}
