// show and diff: a configuration's fields by name, from a file or read from the board.
#include <cstdio>

#include "cli/CommandSupport.h"
#include "config/ConfigFile.h"
#include "config/PosixFile.h"
#include "config/RecordDescription.h"

namespace {

constexpr const char* kBoardOperand = "board";

// Where a configuration came from, and its bytes.
struct Source {
    std::string name;
    ConfigSnapshot snapshot;
};

// A file as Open checks it, except that a CRC that does not match is shown rather than refused:
// whether it matches is one of the fields.
bool loadForDescription(const std::string& path, Console& console, ConfigSnapshot& snapshot) {
    const LoadResult result = LoadConfigFile(path, TCrc(), snapshot);
    if (result != LoadResult::BadCrc)
        return result == LoadResult::Ok || LoadCheckedConfig(path, console, snapshot);
    FileDescriptor file(OpenForReading(path.c_str()));
    return file.valid() && ReadFully(file.get(), snapshot.data(), kSnapshotSize) == kSnapshotSize;
}

// The board's record as a read delivers it, CRC word as stored; false after the failure was
// reported, with the exit status in status.
bool readFromBoard(const Options& options, Console& console, Source& source, int& status) {
    const BoardChoice choice = ChooseBoards(options.board, false, console);
    if (choice.status != ExitStatus::Ok) {
        status = choice.status;
        return false;
    }
    status = RunOnBoards(choice, options, console, [&](BoardSession& session) -> BoardResult {
        const OperationResult<ConfigSnapshot> read = session.readConfig();
        if (!read.done()) return OperationFailure(session, read.ending);
        source = {"board " + session.location().text(), read.value};
        return {};
    });
    return status == ExitStatus::Ok;
}

// Fills the sources named by the operands, reading the board at most once.
int loadSources(const Options& options, Console& console, std::vector<Source>& sources) {
    std::optional<Source> board;
    for (const std::string& operand : options.operands) {
        if (operand == kBoardOperand) {
            if (!board) {
                Source read;
                int status = ExitStatus::Ok;
                if (!readFromBoard(options, console, read, status)) return status;
                board = read;
            }
            sources.push_back(*board);
            continue;
        }
        Source file{operand, {}};
        if (!loadForDescription(operand, console, file.snapshot)) return ExitStatus::File;
        sources.push_back(file);
    }
    return ExitStatus::Ok;
}

bool isCrcField(const FieldDifference& difference) {
    return difference.name == "crc" || difference.name == "crc_ok";
}

// Bytes no decoded field shows can still differ; two records are never called equal when they
// are not: such bytes are listed by offset.
void addUndecodedBytes(const ConfigSnapshot& a, const ConfigSnapshot& b,
                       std::vector<FieldDifference>& differences) {
    for (const auto& difference : differences) {
        if (!isCrcField(difference)) return;
    }
    char name[24], first[8], second[8];
    for (std::size_t offset = ConfigOffset::Codec; offset < kSnapshotSize; ++offset) {
        if (a.bytes[offset] == b.bytes[offset]) continue;
        std::snprintf(name, sizeof name, "byte_%03zu", offset);
        std::snprintf(first, sizeof first, "0x%02X", a.bytes[offset]);
        std::snprintf(second, sizeof second, "0x%02X", b.bytes[offset]);
        differences.push_back({name, first, second});
    }
}

int refuseAll(const Options& options, Console& console) {
    return Refuse(console,
                  "--all does not apply to " + options.command + "; choose one board with --board");
}

}  // namespace

int ShowCommand(const Options& options, Console& console) {
    if (options.all) return refuseAll(options, console);
    std::vector<Source> sources;
    if (int status = loadSources(options, console, sources); status != ExitStatus::Ok) {
        return status;
    }
    const auto fields = DescribeSnapshot(sources[0].snapshot, TCrc());
    if (options.json) {
        Json values = Json::object();
        for (const auto& field : fields) values[field.name] = field.value;
        console.data(JsonText({{"source", sources[0].name}, {"fields", values}}));
        return ExitStatus::Ok;
    }
    std::string text;
    for (const auto& field : fields) text += field.name + ": " + field.value + "\n";
    text.pop_back();
    console.data(text);
    return ExitStatus::Ok;
}

int DiffCommand(const Options& options, Console& console) {
    if (options.all) return refuseAll(options, console);
    std::vector<Source> sources;
    if (int status = loadSources(options, console, sources); status != ExitStatus::Ok) {
        return status;
    }
    auto differences = DiffSnapshots(sources[0].snapshot, sources[1].snapshot, TCrc());
    addUndecodedBytes(sources[0].snapshot, sources[1].snapshot, differences);
    if (options.json) {
        Json list = Json::array();
        for (const auto& difference : differences) {
            list.push_back({{"name", difference.name},
                            {"first", difference.first},
                            {"second", difference.second}});
        }
        console.data(JsonText({{"first", sources[0].name},
                               {"second", sources[1].name},
                               {"equal", differences.empty()},
                               {"differences", list}}));
    } else {
        for (const auto& difference : differences) {
            console.data(difference.name + ": " + difference.first + " -> " + difference.second);
        }
    }
    return differences.empty() ? ExitStatus::Ok : ExitStatus::Failed;
}
