// What a simulated device does with configuration, interface and bulk requests, whichever
// attachment (the libusb-0.1 API or usbfs under umockdev) they come through.
#include <cerrno>
#include <cstdio>

#include "sim/SimWorld.h"

namespace k350sim {

namespace {

std::string hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", unsigned(value));
    return text;
}

bool accepts(const Device& device, int configuration) {
    if (!device.board) return configuration == 1;
    const BoardOptions& options = device.board->options;
    if (options.bootMode) return configuration == 1;
    return configuration == 2 && !options.refusesConfiguration2;
}

void shapeReply(World& w, Device& device, const Bytes& request, PendingReply& reply) {
    const int64_t index = w.replies++;
    if (auto cut = w.faults.shortReplies.find(index); cut != w.faults.shortReplies.end()) {
        reply.bytes.resize(std::min(reply.bytes.size(), size_t(std::max(0, cut->second))));
        w.faults.shortReplies.erase(cut);
    }
    if (auto code = w.faults.wrongCodes.find(index); code != w.faults.wrongCodes.end()) {
        if (reply.bytes.size() < 2) reply.bytes.resize(2);
        reply.bytes[0] = uint8_t(code->second);
        reply.bytes[1] = uint8_t(code->second >> 8);
        w.faults.wrongCodes.erase(code);
    }
    const int64_t own = device.replies++;
    if (auto delay = device.replyDelays.find(own); delay != device.replyDelays.end()) {
        reply.delayUs = delay->second;
        device.replyDelays.erase(delay);
    }
    if (w.faults.hook) {
        const ReplyHook hook = w.faults.hook;  // may replace itself while running
        reply.error = hook(device.id, request, reply.bytes);
    }
}

void deliverRequest(World& w, Device& device, const Bytes& request) {
    if (device.pending)
        w.violations.push_back("request written before the previous reply was read");
    device.pending.reset();
    BoardContext context{w.now(), &w.violations};
    std::optional<Bytes> reply = device.board->handle(request, context);
    if (context.stored) saveState(w, *device.board);
    if (!reply) return;
    PendingReply pending{std::move(*reply), 0, 0, -1};
    shapeReply(w, device, request, pending);
    if (pending.error <= 0) device.pending = std::move(pending);
}

void appendDescriptor(Bytes& out, std::initializer_list<int> bytes) {
    for (int byte : bytes) out.push_back(uint8_t(byte));
}

void appendDevice(Bytes& out, int usb, int deviceClass, int protocol, uint16_t vendor,
                  uint16_t product, int configurations) {
    appendDescriptor(
        out, {18, 1, usb & 0xFF, usb >> 8, deviceClass, 0, protocol, 64, vendor & 0xFF, vendor >> 8,
              product & 0xFF, product >> 8, 0x00, 0x01, 0, 0, 0, configurations});
}

// One configuration with interface 0 and the given bulk (or interrupt) endpoints.
void appendConfiguration(Bytes& out, int value, int interfaceClass, int attributes, int power,
                         std::initializer_list<std::pair<int, int>> endpoints) {
    const int total = 9 + 9 + 7 * int(endpoints.size());
    appendDescriptor(out, {9, 2, total, 0, 1, value, 0, attributes, power});
    appendDescriptor(out, {9, 4, 0, 0, int(endpoints.size()), interfaceClass, 0, 0, 0});
    for (const auto& [address, type] : endpoints) {
        const int packet = type == 3 ? 4 : int(kMaxPacket);
        appendDescriptor(out, {7, 5, address, type, packet, 0, type == 3 ? 12 : 0});
    }
}

}  // namespace

Bytes descriptorsOf(const Device& device) {
    Bytes out;
    if (device.rootHub) {
        appendDevice(out, 0x0200, 9, 1, device.vendorId, device.productId, 1);
        appendConfiguration(out, 1, 9, 0xE0, 0, {{0x81, 3}});
    } else if (device.board) {
        // Both of the board's configurations, in the order the board lists them.
        appendDevice(out, 0x0110, 0, 0, device.vendorId, device.productId, 2);
        appendConfiguration(out, 1, 0xFF, 0x80, 50, {{kBootOut, 2}});
        appendConfiguration(out, 2, 0xFF, 0x80, 50, {{kCommandOut, 2}, {kReplyIn, 2}});
    } else {
        appendDevice(out, 0x0200, 0, 0, device.vendorId, device.productId, 1);
        appendConfiguration(out, 1, 0xFF, 0x80, 50, {{0x82, 2}});
    }
    return out;
}

int setConfigurationOf(World& w, Device& device, int configuration) {
    if (device.claimedBy) return -EBUSY;
    if (!accepts(device, configuration)) return -EINVAL;
    if (!device.board) w.violations.push_back("configured a device that is not a K-350 board");
    device.configuration = configuration;
    device.pending.reset();
    return 0;
}

int claimInterfaceOf(Device& device, const void* owner, int interface) {
    if (interface != 0 || device.configuration == 0) return -EINVAL;
    if (device.board &&
        (device.board->options.refusesInterface0 || !device.board->options.kernelDriver.empty())) {
        return -EBUSY;
    }
    if (device.claimedBy && device.claimedBy != owner) return -EBUSY;
    device.claimedBy = owner;
    return 0;
}

int driverOf(const Device& device, int interface, std::string& name) {
    if (interface != 0 || device.configuration == 0) return -EINVAL;
    const BoardOptions* options = device.board ? &device.board->options : nullptr;
    if (options && !options->kernelDriver.empty()) {
        name = options->kernelDriver;
    } else if ((options && options->refusesInterface0) || device.claimedBy) {
        name = "usbfs";
    } else {
        return -ENODATA;
    }
    return 0;
}

int releaseInterfaceOf(Device& device, const void* owner, int interface) {
    if (interface != 0 || device.claimedBy != owner) return -EINVAL;
    device.claimedBy = nullptr;
    return 0;
}

int writeTo(World& w, Device& device, int endpoint, const Bytes& data) {
    const bool claimed = device.claimedBy != nullptr;
    if (device.board && claimed && device.configuration == 2 && endpoint == kCommandOut) {
        deliverRequest(w, device, data);
        return int(data.size());
    }
    if (device.board && claimed && device.configuration == 1 && endpoint == kBootOut) {
        device.board->bootBytes.insert(device.board->bootBytes.end(), data.begin(), data.end());
        return int(data.size());
    }
    w.violations.push_back("write to endpoint " + hex(endpoint) + " in configuration " +
                           std::to_string(device.configuration) +
                           (claimed ? "" : " without claim"));
    return -EINVAL;
}

void startRead(World& w, Device& device) {
    if (!device.pending || device.pending->delayUs < 0) return;
    device.pending->readyAtUs = w.now() + device.pending->delayUs;
    device.pending->delayUs = -1;
}

bool replyReady(const World& w, const Device& device) {
    return device.pending && device.pending->readyAtUs <= w.now();
}

// The board sends its reply in full-size packets and a last short one. A read whose size is a
// whole number of packets ends when it is full and leaves the rest for the next read; any other
// read that the reply does not fit ends in a packet that overflows it.
int takeReply(World&, Device& device, size_t size, Bytes& returned) {
    PendingReply& pending = *device.pending;
    if (pending.error < 0) {
        const int error = pending.error;
        device.pending.reset();
        return error;
    }
    if (pending.bytes.size() <= size) {
        returned = std::move(pending.bytes);
        device.pending.reset();
        return int(returned.size());
    }
    if (size > 0 && size % kMaxPacket == 0) {
        returned.assign(pending.bytes.begin(), pending.bytes.begin() + long(size));
        pending.bytes.erase(pending.bytes.begin(), pending.bytes.begin() + long(size));
        return int(size);
    }
    device.pending.reset();
    return -EOVERFLOW;
}

int plannedFault(World& w, int64_t index, Device* device) {
    if (w.faults.unplugs.erase(index) && device) {
        w.unplug(*device);
        return -ENODEV;
    }
    const auto failure = w.faults.failures.find(index);
    if (failure == w.faults.failures.end()) return 0;
    const int error = failure->second;
    w.faults.failures.erase(failure);
    return error;
}

bool unplugsDuring(World& w, int64_t index) {
    return w.faults.unplugsDuring.erase(index) > 0;
}

}  // namespace k350sim
