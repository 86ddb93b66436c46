#include "link/UsbScan.h"

#include <usb.h>

#include <cstring>

#include "link/UsbProtocol.h"

bool IsBoard(const struct usb_device* device) {
    return device->descriptor.idVendor == K350Usb::VendorId &&
           device->descriptor.idProduct == K350Usb::ProductId;
}

std::mutex& UsbListMutex() {
    static std::mutex mutex;
    return mutex;
}

BoardLocation LocationOf(const struct usb_bus* bus, const struct usb_device* device) {
    return {std::string(bus->dirname, strnlen(bus->dirname, sizeof bus->dirname)),
            std::string(device->filename, strnlen(device->filename, sizeof device->filename))};
}

void RescanUsb() {
    usb_init();
    usb_set_debug(0);
    usb_find_busses();
    usb_find_devices();
}

std::vector<ListedBoard> ListedBoards() {
    std::vector<ListedBoard> boards;
    for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device; device = device->next) {
            if (IsBoard(device)) boards.push_back({device, LocationOf(bus, device)});
        }
    }
    return boards;
}

std::vector<BoardLocation> ScanBoards() {
    std::lock_guard lock(UsbListMutex());
    RescanUsb();
    std::vector<BoardLocation> locations;
    for (const ListedBoard& board : ListedBoards()) locations.push_back(board.location);
    return locations;
}
