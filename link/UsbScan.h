// The one USB scan for K-350 boards, which the terminal's worker and k350ctl both use: which
// devices are boards, and where each sits on the bus.
#pragma once

#include <vector>

#include "link/BoardLocation.h"

struct usb_bus;
struct usb_device;

// Whether a device carries the board's vendor and product IDs (the same in normal and boot mode).
bool IsBoard(const struct usb_device* device);

// A board in libusb's current device list; valid until the next rescan.
struct ListedBoard {
    struct usb_device* device;
    BoardLocation location;
};

// Rebuilds libusb's device list. Call with UsbListMutex() held when several threads scan.
void RescanUsb();
// The boards in the current list, in bus and device order. Call with the list locked.
std::vector<ListedBoard> ListedBoards();

// Rescans under the lock and returns where every board sits. Nothing is sent to the boards.
std::vector<BoardLocation> ScanBoards();
