// Reference boards: golden units plugged in to check a fixture, known-bad samples kept to show
// that a failure is caught. The station runs them as any board; the report leaves their runs out
// of the line's figures and shows them apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/SqlConnection.h"

namespace ReferenceKind {
constexpr const char* Golden = "golden";
constexpr const char* KnownBad = "known-bad";
}  // namespace ReferenceKind

struct ReferenceBoard {
    std::string dieId, kind, note;
    std::string markedAt;  // ISO 8601, UTC
};

// A reference board's runs in a report's period.
struct ReferenceRuns {
    ReferenceBoard board;
    std::int64_t runs = 0, passed = 0, failed = 0;
};

// The table's statement, for the schema's upgrade.
std::string ReferenceBoardsTable();

bool IsReferenceKind(const std::string& kind);

// Marks the board, or marks it anew (its kind and note replaced).
void MarkReferenceBoard(SqlConnection& db, const ReferenceBoard& board);
// False when the board was not marked.
bool UnmarkReferenceBoard(SqlConnection& db, const std::string& dieId);
// By die ID; none in a store older than the table.
std::vector<ReferenceBoard> ReferenceBoards(SqlConnection& db);

// A condition that leaves the reference boards' runs out: over k350_runs' id, or over a
// table's run id column (`runId`, e.g. "m.run_id"). "" when no board is marked, so a line
// without reference boards reads its runs as before.
std::string WithoutReferenceRuns(SqlConnection& db);
std::string WithoutReferenceRunIds(SqlConnection& db, const std::string& runId);
