// Helpers that drive the simulated board through the libusb-0.1 calls, as the terminal does,
// on a virtual clock that only moves when the simulated bus lets time pass.
#pragma once

#include <usb.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "sim/SimControl.h"
#include "tests/support/SimTime.h"
#include "tests/support/VirtualClock.h"

namespace simtest {

using k350sim::Bytes;

// The boards of the current device list, in bus and device order, after a fresh scan.
inline std::vector<struct usb_device*> scanBoards() {
    usb_init();
    usb_find_busses();
    usb_find_devices();
    std::vector<struct usb_device*> found;
    for (usb_bus* bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next) {
            if (dev->descriptor.idVendor == k350sim::kBoardVendorId &&
                dev->descriptor.idProduct == k350sim::kBoardProductId) {
                found.push_back(dev);
            }
        }
    }
    return found;
}

// Opens a device, selects the configuration and claims interface 0; null on any failure.
inline usb_dev_handle* openBoard(struct usb_device* dev, int configuration = 2) {
    usb_dev_handle* handle = usb_open(dev);
    if (!handle) return nullptr;
    if (usb_set_configuration(handle, configuration) < 0 || usb_claim_interface(handle, 0) < 0) {
        usb_close(handle);
        return nullptr;
    }
    return handle;
}

inline usb_dev_handle* openFirstBoard(int configuration = 2) {
    const auto boards = scanBoards();
    return boards.empty() ? nullptr : openBoard(boards.front(), configuration);
}

// A command packet: four little-endian words and the payload.
inline Bytes packet(uint16_t w0, uint16_t w1 = 0, uint16_t w2 = 0, uint16_t w3 = 0,
                    const Bytes& payload = {}) {
    Bytes bytes;
    for (uint16_t word : {w0, w1, w2, w3}) {
        bytes.push_back(uint8_t(word));
        bytes.push_back(uint8_t(word >> 8));
    }
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

inline int sendRequest(usb_dev_handle* handle, const Bytes& request, int timeoutMs = 1000) {
    return usb_bulk_write(handle, 0x01, reinterpret_cast<const char*>(request.data()),
                          int(request.size()), timeoutMs);
}

// Reads one reply; its bytes on success, else empty with the result in `result`.
inline Bytes readReply(usb_dev_handle* handle, int& result, int size = 4096, int timeoutMs = 1000) {
    Bytes reply(size_t(size > 0 ? size : 0));
    result = usb_bulk_read(handle, 0x81, reinterpret_cast<char*>(reply.data()), size, timeoutMs);
    reply.resize(size_t(result > 0 ? result : 0));
    return reply;
}

// Request and reply; the reply bytes, empty when either transfer failed.
inline Bytes transact(usb_dev_handle* handle, const Bytes& request, int timeoutMs = 1000) {
    if (sendRequest(handle, request, timeoutMs) < 0) return {};
    int result = 0;
    return readReply(handle, result, 4096, timeoutMs);
}

inline Bytes payloadOf(const Bytes& reply) {
    return reply.size() > 8 ? Bytes(reply.begin() + 8, reply.end()) : Bytes{};
}

inline uint16_t word(const Bytes& reply, size_t index) {
    return reply.size() >= 2 * index + 2 ? uint16_t(reply[2 * index] | reply[2 * index + 1] << 8)
                                         : 0xFFFF;
}

}  // namespace simtest
