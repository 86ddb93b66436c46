// Selecting the trace channels: the channel mask in header word 1 of command 5.
#pragma once

#include "link/OperationResult.h"

class BoardLink;

// Reports: fill (the 16-bit mask, little-endian like every header word, into word 1).
OperationResult<> SelectTrace(BoardLink& link, OperationObserver& observer);
