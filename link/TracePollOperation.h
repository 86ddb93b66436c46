// Draining the board's trace queue: one line per record that carried traced bytes, each with
// the time of day, its channel's label and the bytes in hexadecimal.
#pragma once

#include "link/BoardTypes.h"
#include "link/OperationResult.h"

class BoardLink;

// Reports nothing on the way; the lines are the value. A failure drops the lines made so far.
OperationResult<TraceLines> PollTraceRecords(BoardLink& link, OperationObserver& observer);
