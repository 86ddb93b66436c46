// Writing the board's configuration: the bytes handed over (56 or all 140 of the record) to the
// EEPROM from address 0, in chunks that never cross one of its 64-byte pages.
#pragma once

#include <cstdint>

#include "link/OperationResult.h"

class BoardLink;

// Reports: started, supply (the bytes to write), identified, total, progress after each chunk,
// finished. The value is the number of bytes written.
OperationResult<std::uint32_t> WriteConfiguration(BoardLink& link, OperationObserver& observer);
