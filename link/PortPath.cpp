#include "link/PortPath.h"

#include <filesystem>
#include <fstream>

namespace {
int NumberIn(const std::filesystem::path& file) {
    std::ifstream in(file);
    int number = -1;
    in >> number;
    return in ? number : -1;
}

int NumberOf(const std::string& text) {
    try {
        return std::stoi(text);
    } catch (const std::exception&) {
        return -2;  // never a sysfs number
    }
}
}  // namespace

std::string SysfsPortPath(const BoardLocation& location, const std::string& sysfsRoot) {
    const int bus = NumberOf(location.bus), device = NumberOf(location.device);
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(sysfsRoot + "/bus/usb/devices", error)) {
        const std::string name = entry.path().filename().string();
        // Interfaces ("1-1.3:1.0") have no numbers; root hubs ("usb1") no port.
        if (name.find(':') != std::string::npos || name.starts_with("usb")) continue;
        if (NumberIn(entry.path() / "busnum") == bus &&
            NumberIn(entry.path() / "devnum") == device) {
            return name;
        }
    }
    return {};
}

std::string PortPathOf(const BoardLocation& location) {
    if (k350_usb_port_path) {
        char port[64] = {};
        if (k350_usb_port_path(location.bus.c_str(), location.device.c_str(), port, sizeof port) ==
            0) {
            return port;
        }
        return {};
    }
    return SysfsPortPath(location, "/sys");
}
