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

// How long the flash stayed busy after each operation of one kind, from the request to the
// status poll that found it ready (only known when polling).
struct FlashBusyTimes {
    int count = 0;
    double maxMs = 0, totalMs = 0;

    void add(double ms);
    double meanMs() const { return count > 0 ? totalMs / count : 0; }
};

struct FirmwareDownload {
    bool bootMode = false;
    std::uint32_t bytes = 0;            // programmed (normal mode) or sent (boot mode)
    FlashBusyTimes erase{}, program{};  // normal mode, polled
};

// Reports in normal mode: started (Firmware), supply (the image), identified, total, progress
// before each erase or program step and once at the end, finished. In boot mode: the link's
// reports of the second open, started (BootFirmware), supply, total, progress after each block,
// finished; the link is closed at the end whatever the outcome.
OperationResult<FirmwareDownload> DownloadFirmware(BoardLink& link, OperationObserver& observer,
                                                   const FirmwareOptions& options = {});
