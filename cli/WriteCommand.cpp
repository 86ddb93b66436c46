// write: a configuration file into the board, checked as the terminal's Open checks it.
#include "cli/CommandSupport.h"
#include "config/ConfigFile.h"
#include "config/ServiceCodes.h"

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

BoardResult writeBoard(const Options& options, Console& console, BoardSession& session,
                       std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    ShowProgress(session, console);
    session.channel().transferBytes = bytes;
    const CliChannel::Outcome& outcome = session.run(WorkerRequest::WriteConfig);
    if (!outcome.done || !outcome.hasStatus(LinkStatus::WriteFinished)) {
        return ReportFailure(options, console, session, OperationFailure(outcome));
    }
    if (options.json) {
        Json object = BoardJson(session, true);
        object["bytes_written"] = *outcome.done;
        console.data(JsonText(object));
    } else {
        console.message(session.location().text() + ": " + std::to_string(*outcome.done) +
                        " bytes of the configuration written");
    }
    return {};
}

}  // namespace

// Loads a configuration file as Open does; reports why not and returns false otherwise.
bool LoadCheckedConfig(const std::string& path, Console& console, ConfigSnapshot& snapshot) {
    const LoadResult result = LoadConfigFile(path, TCrc(), snapshot);
    if (result == LoadResult::Ok) return true;
    console.message("k350ctl: file " + path + " " + loadProblem(result));
    return false;
}

int WriteCommand(const Options& options, Console& console) {
    const ServiceLevel level = options.full ? ServiceLevel::FullService : ServiceLevel::User;
    if (options.full && !HasAccess(options, console, int(level), "write --full")) {
        return ExitStatus::Usage;
    }
    ConfigSnapshot snapshot;
    if (!LoadCheckedConfig(options.operands[0], console, snapshot)) return ExitStatus::File;
    // As before the terminal's write: the CRC word over the bytes as they are.
    RefreshCrc(TCrc(), snapshot);
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(
        snapshot.bytes.begin(), snapshot.bytes.begin() + WriteExtent(level));

    const BoardChoice choice = ChooseBoards(options.board, options.all, console);
    if (choice.status != ExitStatus::Ok) return choice.status;
    return RunOnBoards(choice, console, [&](BoardSession& session) {
        return writeBoard(options, console, session, bytes);
    });
}
