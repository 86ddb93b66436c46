// Downloading a firmware image: into the SPI flash page by page when the board opens in normal
// mode, else raw to its boot loader (configuration 1, endpoint 0x06).
#pragma once

#include <cstdint>

#include "link/OperationResult.h"

class BoardLink;

struct FirmwareOptions {
    // k350ctl's --poll: after each sector erase and page program the next status poll waits
    // exactly as long as the flash is busy, instead of pausing 800 ms and 1 ms first.
    bool pollInsteadOfPausing = false;
};

struct FirmwareDownload {
    bool bootMode = false;
    std::uint32_t bytes = 0;  // programmed (normal mode) or sent (boot mode)
};

// Reports in normal mode: started (Firmware), supply (the image), identified, total, progress
// before each erase or program step and once at the end, finished. In boot mode: the link's
// reports of the second open, started (BootFirmware), supply, total, progress after each block,
// finished; the link is closed at the end whatever the outcome.
OperationResult<FirmwareDownload> DownloadFirmware(BoardLink& link, OperationObserver& observer,
                                                   const FirmwareOptions& options = {});
