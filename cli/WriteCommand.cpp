// write: a configuration file into the board, checked as the terminal's Open checks it.
#include "cli/CommandSupport.h"
#include "config/ConfigFile.h"
#include "config/RecordRules.h"
#include "config/ServiceCodes.h"

using RecordRules::DeviceIdText;

namespace {

const char* loadProblem(LoadResult result) {
    switch (result) {
        case LoadResult::CannotOpen:
            return "cannot be opened";
        case LoadResult::WrongSize:
            return "is not a configuration file: it is not 156 bytes long";
        case LoadResult::ShortRead:
            return "cannot be read in full";
        case LoadResult::BadCrc:
            return "is damaged: its CRC word does not match its contents";
        default:
            return "cannot be used";
    }
}

// --full writes the file's board information, serial included: into a board whose die ID is not
// the file's only when the user says so.
std::string identityProblem(const Options& options, BoardSession& session,
                            const ConfigSnapshot& file) {
    const std::string fileDie = DeviceIdText(file.data() + ConfigOffset::DieId);
    const std::string boardDie = DeviceIdText(session.deviceIds().data());
    if (!options.full || options.otherBoard || fileDie == boardDie) return {};
    return "write --full refused: the file is of the board with die ID " + fileDie +
           ", this board's is " + boardDie + "; its identity would replace the board's own (give " +
           "--other-board to write it all the same)";
}

BoardResult writeBoard(const Options& options, Console& console, BoardSession& session,
                       const ConfigSnapshot& file,
                       std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    ShowProgress(session, console);
    std::string refusal;
    // Asked for its bytes once the board is open and identified, before anything is written.
    const OperationResult<std::uint32_t> written = session.writeConfig(bytes, [&] {
        refusal = identityProblem(options, session, file);
        return refusal.empty();
    });
    if (!refusal.empty()) {
        return ReportFailure(options, console, session, {ExitStatus::Usage, refusal});
    }
    if (!written.done()) {
        return ReportFailure(options, console, session, OperationFailure(session, written.ending));
    }
    if (options.json) {
        Json object = BoardJson(session, true);
        object["bytes_written"] = written.value;
        console.data(JsonText(object));
    } else {
        console.message(session.location().text() + ": " + std::to_string(written.value) +
                        " bytes of the configuration written");
    }
    return {};
}

}  // namespace

// Loads a configuration file as Open does; reports why not and returns false otherwise.
bool LoadCheckedConfig(const std::string& path, Console& console, ConfigSnapshot& snapshot) {
    const LoadResult result = LoadConfigFile(path, TCrc(), snapshot);
    if (result == LoadResult::Ok) return true;
    console.message("k350ctl: file " + Quoted(path) + " " + loadProblem(result));
    return false;
}

int WriteCommand(const Options& options, Console& console) {
    const ServiceLevel level = options.full ? ServiceLevel::FullService : ServiceLevel::User;
    if (options.full && !HasAccess(options, console, int(level), "write --full")) {
        return ExitStatus::Usage;
    }
    if (options.full && options.all) {
        return Refuse(console,
                      "write --full refused with --all: it would give every board the file's "
                      "identity; write each board's own file with --board");
    }
    ConfigSnapshot snapshot;
    if (!LoadCheckedConfig(options.operands[0], console, snapshot)) return ExitStatus::File;
    // As before the terminal's write: the CRC word over the bytes as they are.
    RefreshCrc(TCrc(), snapshot);
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(
        snapshot.bytes.begin(), snapshot.bytes.begin() + WriteExtent(level));

    const BoardChoice choice = ChooseBoards(options.board, options.all, console);
    if (choice.status != ExitStatus::Ok) return choice.status;
    return RunOnBoards(choice, options, console, [&](BoardSession& session) {
        return writeBoard(options, console, session, snapshot, bytes);
    });
}
