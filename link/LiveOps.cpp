#include "link/K350Task.h"

// Placeholder: the exchanges of these operations are not built yet.
void TK350::SendCodec() {}
void TK350::SendAmplifier() {}
void TK350::SendVocoder() {}
void TK350::SendRecorder() {}
