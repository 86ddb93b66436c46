#include "link/K350Task.h"

// Placeholder: the exchanges of these operations are not built yet.
void TK350::ReadStatistics() {}
void TK350::ResetStatistics() {}
void TK350::SetTrace() {}
void TK350::PollTrace() {}
