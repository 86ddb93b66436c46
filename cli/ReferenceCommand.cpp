// reference: the golden and known-bad boards of the line, kept out of the report's figures.
#include "cli/Commands.h"
#include "store/Json.h"
#include "store/ReferenceBoards.h"
#include "store/RunStore.h"
#include "store/SqlRunStore.h"
#include "store/StoreText.h"

namespace {

constexpr std::size_t kDieIdLength = 64, kNoteLength = 200;

int Fail(Console& console, const std::string& text, int status) {
    console.message("k350ctl: " + text);
    return status;
}

// What `reference` was asked to do and to which board; a refusal when the words do not fit.
std::string Problem(const Options& options) {
    const auto& words = options.operands;
    const std::string action = words.empty() ? "" : words[0];
    if (action == "list") {
        if (words.size() != 1) return "reference list takes no die ID";
        if (options.referenceKind || options.referenceNote) {
            return "--kind and --note belong to reference mark";
        }
        return {};
    }
    if (action != "mark" && action != "unmark") {
        return "reference takes mark, unmark or list, not " + Quoted(action);
    }
    if (words.size() != 2) return "reference " + action + " takes one die ID";
    if (words[1].empty()) return "the die ID is empty";
    if (const std::string problem = NameProblem(words[1], kDieIdLength); !problem.empty()) {
        return "the die ID " + Quoted(words[1]) + " " + problem;
    }
    if (options.csv || options.json) return "reference " + action + " prints no table";
    if (action == "unmark") {
        if (options.referenceKind || options.referenceNote) {
            return "--kind and --note belong to reference mark";
        }
        return {};
    }
    if (!options.referenceKind || !IsReferenceKind(*options.referenceKind)) {
        return "reference mark needs --kind golden or --kind known-bad";
    }
    if (const std::string problem = NameProblem(options.referenceNote.value_or(""), kNoteLength);
        !problem.empty()) {
        return "the note " + problem;
    }
    return {};
}

int List(const std::string& location, const Options& options, Console& console) {
    const auto store = OpenSqlRunStore(location, StoreAccess::Read);
    const auto boards = ReferenceBoards(store->connection());
    for (const ReferenceBoard& board : boards) {
        if (options.json) {
            console.data(JsonText({{"die_id", board.dieId},
                                   {"kind", board.kind},
                                   {"note", board.note.empty() ? Json() : Json(board.note)},
                                   {"marked_at", board.markedAt}}));
        } else {
            console.data(EscapedLine(board.dieId) + "  " + board.kind + "  " + board.markedAt +
                         (board.note.empty() ? "" : "  " + EscapedLine(board.note)));
        }
    }
    if (boards.empty() && !options.json) console.message("k350ctl: no reference boards");
    return ExitStatus::Ok;
}

}  // namespace

int ReferenceCommand(const Options& options, Console& console) {
    if (const std::string problem = Problem(options); !problem.empty()) {
        return Refuse(console, problem);
    }
    const std::string location = options.store.value_or(kDefaultStore);
    const std::string& action = options.operands[0];
    try {
        if (action == "list") return List(location, options, console);
        const std::string& dieId = options.operands[1];
        // Marking makes or upgrades the store, as a station does.
        const auto store = OpenSqlRunStore(location, StoreAccess::Write);
        if (action == "mark") {
            MarkReferenceBoard(
                store->connection(),
                {dieId, *options.referenceKind, options.referenceNote.value_or(""), {}});
            return ExitStatus::Ok;
        }
        if (!UnmarkReferenceBoard(store->connection(), dieId)) {
            return Fail(console, "the board " + Quoted(dieId) + " is not a reference board",
                        ExitStatus::Failed);
        }
        return ExitStatus::Ok;
    } catch (const StoreError& error) {
        return Fail(console, error.what(), ExitStatus::File);
    }
}
