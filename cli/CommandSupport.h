// What several commands share: a failed operation's result and its JSON form.
#pragma once

#include <string>

#include "cli/Commands.h"
#include "link/BoardSession.h"
#include "store/Json.h"

// What an operation that ended so reports: its failure text, and whether no board was found.
BoardResult OperationFailure(const BoardSession& session, Ending ending);
// The start of every per-board JSON object.
Json BoardJson(const BoardSession& session, bool ok);
// Prints the failure as the board's JSON object when --json is on; returns the result.
BoardResult ReportFailure(const Options& options, Console& console, const BoardSession& session,
                          const BoardResult& failure);
// Shows the session's transfer progress on the console's bar.
void ShowProgress(BoardSession& session, Console& console);
