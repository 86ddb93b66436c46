// The libusb-0.1 bus and device list (usb_busses), built from libusb-1.0's device list.
#pragma once

#include <usb.h>

#include <memory>
#include <vector>

struct libusb_context;
struct libusb_device;

namespace k350usb {

// One device as the 0.1 API shows it, with the descriptors its usb_device points into.
struct ListedDevice;

class UsbDeviceList {
public:
    UsbDeviceList();
    ~UsbDeviceList();

    // Both rebuild the list from libusb-1.0's current devices and return how many buses
    // (usb_find_busses) or devices (usb_find_devices) appeared or went away.
    int findBusses(libusb_context* context);
    int findDevices(libusb_context* context);
    usb_bus* head() const { return head_; }

private:
    struct Counts {
        int buses = 0;
        int devices = 0;
    };
    Counts rescan(libusb_context* context);
    usb_bus* busFor(int number, int& added);
    void relink(const std::vector<ListedDevice*>& present);

    usb_bus* head_ = nullptr;
    std::vector<std::unique_ptr<usb_bus>> buses_;
    std::vector<std::unique_ptr<ListedDevice>> devices_;
    // Entries of devices that went away: kept, unlinked, until the process ends, so that a
    // usb_device a caller still holds from an earlier scan never points into freed memory.
    std::vector<std::unique_ptr<ListedDevice>> retired_;
};

}  // namespace k350usb
