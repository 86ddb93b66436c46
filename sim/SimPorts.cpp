// The physical port of a simulated device: the simulator has no hubs, so every device sits at
// its own port of its bus, named as the kernel would ("1-5") after its address, and a replugged
// device comes back at the same one; a device added anew gets a new address, so a new port.
#include <cstdio>
#include <string>

#include "link/PortPath.h"
#include "sim/SimWorld.h"

extern "C" int k350_usb_port_path(const char* bus, const char* device, char* out,
                                  unsigned long size) {
    try {
        const int busNumber = std::stoi(bus);
        const int deviceNumber = std::stoi(device);
        std::lock_guard lock(k350sim::worldMutex());
        for (const auto& candidate : k350sim::world().devices) {
            if (candidate->bus + 1 == busNumber && candidate->address % 1000 == deviceNumber) {
                std::snprintf(out, size, "%d-%d", busNumber, candidate->address);
                return 0;
            }
        }
    } catch (const std::exception&) {
        // Not a simulated device's name.
    }
    return -1;
}
