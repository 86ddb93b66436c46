// One run as a JSON line: what `history --json` prints and what a hook reads on its input, so
// both always agree.
#pragma once

#include <string>

#include "store/RunStore.h"

// The run on one line, without its line break; bytes that are not UTF-8 become U+FFFD.
std::string RunJsonLine(const RunRecord& run);
