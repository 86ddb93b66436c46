// Choosing one board among several, for k350ctl: the terminal itself uses the first board that
// opens and never sets a location.
#pragma once

#include <mutex>
#include <string>

struct usb_bus;
struct usb_device;

// Where a device sits on USB: the bus and device names as libusb reports them ("001", "004").
struct BoardLocation {
    std::string bus;
    std::string device;

    std::string text() const { return bus + "/" + device; }
    bool operator==(const BoardLocation&) const = default;
};

// libusb-0.1 keeps one device list for the whole process: a scan rebuilds it and frees what it
// replaces. Whoever scans or walks the list holds this lock, so workers on several threads never
// see it half rebuilt.
std::mutex& UsbListMutex();

BoardLocation LocationOf(const struct usb_bus* bus, const struct usb_device* device);
