// Reading the board's configuration: the 140-byte record from the EEPROM, with the board's
// DeviceIds behind it.
#pragma once

#include "config/ConfigImage.h"
#include "link/OperationResult.h"

class BoardLink;

// Reports: started, identified, total (140), progress after each chunk, finished.
OperationResult<ConfigSnapshot> ReadConfiguration(BoardLink& link, OperationObserver& observer);
