// Reading the flash back (k350ctl's verify): `count` bytes from `address`, once the last
// program cycle is over. Not one of the terminal's operations.
#pragma once

#include <cstdint>
#include <vector>

#include "link/OperationResult.h"

class BoardLink;

OperationResult<std::vector<std::uint8_t>> ReadFlashBack(BoardLink& link,
                                                         OperationObserver& observer,
                                                         std::uint32_t address,
                                                         std::uint32_t count);
