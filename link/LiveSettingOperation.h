// Passing one live setting to the running board: the codec or LF amplifier register over I2C,
// the vocoder or recorder settings with their own commands.
#pragma once

#include "link/BoardTypes.h"
#include "link/OperationResult.h"

class BoardLink;

// Reports: fill (the setting's payload bytes, written into the request); nothing after the send.
OperationResult<> SendLiveSetting(BoardLink& link, OperationObserver& observer,
                                  LiveSetting setting);
