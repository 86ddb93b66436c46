// Where a board is plugged, as the kernel names the physical port ("1-1.3"): unlike the device
// number, it stays the same when a board is unplugged and plugged in again at the same place.
#pragma once

#include <string>

#include "link/BoardLocation.h"

// The port of the device at this location; empty when it cannot be told (gone, no sysfs).
// A USB library that knows the ports itself (the simulator does) answers through
// k350_usb_port_path; otherwise sysfs is read.
std::string PortPathOf(const BoardLocation& location);
// The sysfs rule alone: the device folder under root/bus/usb/devices whose busnum and devnum
// are the location's numbers.
std::string SysfsPortPath(const BoardLocation& location, const std::string& sysfsRoot);

// Exported by a USB library that knows its ports: writes the port path of the device named
// (bus, device) as usb_bus::dirname and usb_device::filename; 0 on success.
extern "C" int k350_usb_port_path(const char* bus, const char* device, char* out,
                                  unsigned long size) __attribute__((weak));
