#include "store/ReferenceBoards.h"

#include "store/RunStore.h"

namespace {

constexpr const char* kTable = "k350_reference_boards";

bool AnyMarked(SqlConnection& db) {
    return db.hasTable(kTable) && !db.run("SELECT 1 FROM k350_reference_boards LIMIT 1").empty();
}

}  // namespace

std::string ReferenceBoardsTable() {
    return "CREATE TABLE k350_reference_boards ("
           " die_id TEXT PRIMARY KEY,"
           " kind TEXT NOT NULL CHECK (kind IN ('golden', 'known-bad')),"
           " note TEXT,"
           " marked_at TEXT NOT NULL)";
}

bool IsReferenceKind(const std::string& kind) {
    return kind == ReferenceKind::Golden || kind == ReferenceKind::KnownBad;
}

void MarkReferenceBoard(SqlConnection& db, const ReferenceBoard& board) {
    db.run(
        "INSERT INTO k350_reference_boards (die_id, kind, note, marked_at) VALUES (?, ?, ?, ?)"
        " ON CONFLICT (die_id) DO UPDATE SET kind = excluded.kind, note = excluded.note,"
        " marked_at = excluded.marked_at",
        {board.dieId, board.kind, board.note.empty() ? SqlValue() : SqlValue(board.note),
         board.markedAt.empty() ? UtcNow() : board.markedAt});
}

bool UnmarkReferenceBoard(SqlConnection& db, const std::string& dieId) {
    return !db.run("DELETE FROM k350_reference_boards WHERE die_id = ? RETURNING die_id", {dieId})
                .empty();
}

std::vector<ReferenceBoard> ReferenceBoards(SqlConnection& db) {
    std::vector<ReferenceBoard> boards;
    if (!db.hasTable(kTable)) return boards;
    for (const SqlRow& row : db.run(
             "SELECT die_id, kind, note, marked_at FROM k350_reference_boards ORDER BY die_id")) {
        boards.push_back({row.at(0).value_or(""), row.at(1).value_or(""), row.at(2).value_or(""),
                          row.at(3).value_or("")});
    }
    return boards;
}

// By the runs' ids, which every index of the runs holds (SQLite's row id), rather than their
// die IDs: the report's statements read the period from indexes without the die ID, and a
// year's runs looked up one by one for it would take seconds. The reference boards' runs are
// few, found by the index of die IDs.
std::string WithoutReferenceRuns(SqlConnection& db) {
    if (!AnyMarked(db)) return {};
    // A unary plus keeps SQLite from choosing the runs' order by id for this condition.
    const std::string id = db.dialect() == SqlDialect::Sqlite ? "+id" : "id";
    return " AND " + id +
           " NOT IN (SELECT id FROM k350_runs WHERE die_id IN"
           " (SELECT die_id FROM k350_reference_boards))";
}

std::string WithoutReferenceRunIds(SqlConnection& db, const std::string& runId) {
    if (!AnyMarked(db)) return {};
    return " AND " + runId +
           " NOT IN (SELECT id FROM k350_runs WHERE die_id IN"
           " (SELECT die_id FROM k350_reference_boards))";
}
