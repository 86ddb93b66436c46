#include "link/K350Task.h"

// Placeholder: the exchanges of these operations are not built yet.
void TK350::ReadConfig() {}
void TK350::WriteConfig() {}
