// The libusb-0.1 functions, answered by the simulated world. Exported with C linkage so that the
// terminal links against them, or picks them up through LD_PRELOAD in place of the real libusb.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/SimWorld.h"

using namespace k350sim;

// Declared by usb.h outside its extern "C" block; a global variable's symbol is its plain name.
__attribute__((visibility("default"))) struct usb_bus* usb_busses = nullptr;

namespace {

constexpr int kCommandOut = 0x01;
constexpr int kReplyIn = 0x81;
constexpr int kBootOut = 0x06;
constexpr int64_t kFrameUs = 1000;

thread_local char errorText[96] = "no error";

int remember(int result) {
    if (result < 0)
        std::snprintf(errorText, sizeof errorText, "simulated error %d: %s", result,
                      std::strerror(-result));
    return result;
}

std::string hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", unsigned(value));
    return text;
}

// A long demo session would otherwise grow the log without end; tests stay far below this.
constexpr size_t kLogLimit = 200'000;

void appendLog(World& w, TransferRecord entry) {
    if (w.log.size() >= kLogLimit) w.log.erase(w.log.begin(), w.log.begin() + kLogLimit / 2);
    w.log.push_back(std::move(entry));
}

void record(World& w, TransferRecord entry) {
    entry.timeUs = w.now();
    appendLog(w, std::move(entry));
}

// The device behind a handle, or null when the handle is unknown or its device has gone.
Device* deviceOf(World& w, usb_dev_handle* handle, int& error) {
    const auto found = w.handles.find(handle);
    if (found == w.handles.end()) {
        error = -EINVAL;
        return nullptr;
    }
    Device* device = w.find(handle->device);
    if (device == nullptr || !device->plugged || device->generation != handle->generation) {
        error = -ENODEV;
        return nullptr;
    }
    return device;
}

bool accepts(const Device& device, int configuration) {
    if (!device.board) return configuration == 1;
    const BoardOptions& options = device.board->options;
    if (options.bootMode) return configuration == 1;
    return configuration == 2 && !options.refusesConfiguration2;
}

struct usb_device* structFor(World& w, const Device& device, usb_bus* bus) {
    auto& slot = w.deviceStructs[{device.id, device.generation}];
    if (!slot) {
        slot = std::make_unique<struct usb_device>();
        std::snprintf(slot->filename, sizeof slot->filename, "%03d", device.id % 1000);
        slot->descriptor.bLength = USB_DT_DEVICE_SIZE;
        slot->descriptor.bDescriptorType = USB_DT_DEVICE;
        slot->descriptor.bcdUSB = 0x0110;
        slot->descriptor.idVendor = device.vendorId;
        slot->descriptor.idProduct = device.productId;
        slot->descriptor.bNumConfigurations = 1;
        slot->devnum = uint8_t(device.id);
        w.listed[slot.get()] = {device.id, device.generation};
    }
    slot->bus = bus;
    slot->next = slot->prev = nullptr;
    return slot.get();
}

void linkDevices(World& w, usb_bus* bus, int index) {
    struct usb_device* last = nullptr;
    bus->devices = nullptr;
    for (const auto& device : w.devices) {
        if (device->bus != index || !device->plugged) continue;
        struct usb_device* entry = structFor(w, *device, bus);
        entry->prev = last;
        (last ? last->next : bus->devices) = entry;
        last = entry;
    }
}

// Rebuilds the list from the world as it is now; returns how many entries changed.
int rescan(World& w) {
    std::set<const void*> before;
    for (usb_bus* bus = w.listHead; bus; bus = bus->next) {
        before.insert(bus);
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next) before.insert(dev);
    }
    while (int(w.busStructs.size()) < w.busCount)
        w.busStructs.push_back(std::make_unique<usb_bus>());
    usb_bus* last = nullptr;
    w.listHead = nullptr;
    for (int index = 0; index < w.busCount; ++index) {
        usb_bus* bus = w.busStructs[index].get();
        std::snprintf(bus->dirname, sizeof bus->dirname, "%03d", index + 1);
        bus->location = uint32_t(index + 1);
        bus->prev = last;
        bus->next = nullptr;
        (last ? last->next : w.listHead) = bus;
        last = bus;
        linkDevices(w, bus, index);
    }
    usb_busses = w.listHead;
    int changes = 0;
    for (usb_bus* bus = w.listHead; bus; bus = bus->next) {
        changes += !before.erase(bus);
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
            changes += !before.erase(dev);
    }
    return changes + int(before.size());
}

// Applies the fault planned for this bulk transfer, if any; returns its error or 0.
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

void shapeReply(World& w, Device& device, const Bytes& request, Bytes& reply, int& error) {
    const int64_t index = w.replies++;
    if (auto cut = w.faults.shortReplies.find(index); cut != w.faults.shortReplies.end()) {
        reply.resize(std::min(reply.size(), size_t(std::max(0, cut->second))));
        w.faults.shortReplies.erase(cut);
    }
    if (auto code = w.faults.wrongCodes.find(index); code != w.faults.wrongCodes.end()) {
        if (reply.size() < 2) reply.resize(2);
        reply[0] = uint8_t(code->second);
        reply[1] = uint8_t(code->second >> 8);
        w.faults.wrongCodes.erase(code);
    }
    if (w.faults.hook) {
        const ReplyHook hook = w.faults.hook;  // may replace itself while running
        error = hook(device.id, request, reply);
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
    int error = 0;
    shapeReply(w, device, request, *reply, error);
    if (error <= 0) device.pending = PendingReply{std::move(*reply), error};
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

int readFrom(World& w, Device& device, int endpoint, char* bytes, int size, Bytes& returned) {
    const bool claimed = device.claimedBy != nullptr;
    if (!device.board || !claimed || device.configuration != 2 || endpoint != kReplyIn) {
        w.violations.push_back("read from endpoint " + hex(endpoint) + " in configuration " +
                               std::to_string(device.configuration) +
                               (claimed ? "" : " without claim"));
        return -EINVAL;
    }
    if (!device.pending) return -ETIMEDOUT;
    PendingReply pending = std::move(*device.pending);
    device.pending.reset();
    if (pending.error < 0) return pending.error;
    const size_t count = std::min(size_t(size), pending.bytes.size());
    if (count > 0) std::memcpy(bytes, pending.bytes.data(), count);
    returned.assign(pending.bytes.begin(), pending.bytes.begin() + count);
    return int(count);
}

void passTime(World& w, int result, int timeoutMs) {
    w.advance(result == -ETIMEDOUT ? int64_t(std::max(timeoutMs, 0)) * 1000 : kFrameUs);
}

// Runs one bulk transfer with its fault planning, clock and log entry.
template <typename Transfer>
int bulk(TransferKind kind, usb_dev_handle* handle, int endpoint, int size, int timeoutMs,
         Transfer transfer) {
    std::lock_guard lock(worldMutex());
    World& w = world();
    int error = 0;
    Device* device = deviceOf(w, handle, error);
    const int64_t index = w.transfers++;
    TransferRecord entry{};
    entry.kind = kind;
    entry.device = device ? device->id : (w.handles.count(handle) ? handle->device : 0);
    entry.endpoint = endpoint;
    entry.size = size;
    entry.timeoutMs = timeoutMs;
    entry.timeUs = w.now();
    int result = plannedFault(w, index, device);
    if (result == 0 && device == nullptr) result = error;
    if (result == 0) result = size < 0 ? -EINVAL : transfer(w, *device, entry.data);
    if (result < 0 && device && kind == TransferKind::Read) device->pending.reset();
    entry.result = result;
    appendLog(w, std::move(entry));
    passTime(w, result, timeoutMs);
    return remember(result);
}

int handleCall(TransferKind kind, usb_dev_handle* handle, int number,
               int (*action)(World&, Device&, usb_dev_handle*, int)) {
    std::lock_guard lock(worldMutex());
    World& w = world();
    int result = 0;
    Device* device = deviceOf(w, handle, result);
    if (device) result = action(w, *device, handle, number);
    record(w, {kind, device ? device->id : 0, number, {}, 0, 0, 0, result});
    return remember(result);
}

int setConfiguration(World& w, Device& device, usb_dev_handle*, int configuration) {
    if (device.claimedBy) return -EBUSY;
    if (!accepts(device, configuration)) return -EINVAL;
    if (!device.board) w.violations.push_back("configured a device that is not a K-350 board");
    device.configuration = configuration;
    device.pending.reset();
    return 0;
}

int claimInterface(World&, Device& device, usb_dev_handle* handle, int interface) {
    if (interface != 0 || device.configuration == 0) return -EINVAL;
    if (device.board && device.board->options.refusesInterface0) return -EBUSY;
    if (device.claimedBy && device.claimedBy != handle) return -EBUSY;
    device.claimedBy = handle;
    return 0;
}

int releaseInterface(World&, Device& device, usb_dev_handle* handle, int interface) {
    if (interface != 0 || device.claimedBy != handle) return -EINVAL;
    device.claimedBy = nullptr;
    return 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void usb_init(void) {
    std::lock_guard lock(worldMutex());
    ensureWorld(world());
}

__attribute__((visibility("default"))) void usb_set_debug(int) {}

__attribute__((visibility("default"))) int usb_find_busses(void) {
    std::lock_guard lock(worldMutex());
    ensureWorld(world());
    return rescan(world());
}

__attribute__((visibility("default"))) int usb_find_devices(void) {
    std::lock_guard lock(worldMutex());
    ensureWorld(world());
    return rescan(world());
}

__attribute__((visibility("default"))) struct usb_bus* usb_get_busses(void) {
    std::lock_guard lock(worldMutex());
    return world().listHead;
}

__attribute__((visibility("default"))) usb_dev_handle* usb_open(struct usb_device* dev) {
    std::lock_guard lock(worldMutex());
    World& w = world();
    const auto listed = w.listed.find(dev);
    Device* device = listed == w.listed.end() ? nullptr : w.find(listed->second.first);
    int result = -ENODEV;
    usb_dev_handle* handle = nullptr;
    if (device && device->plugged && device->generation == listed->second.second) {
        result = device->board && device->board->options.cannotOpen ? -EACCES : 0;
    }
    if (result == 0) {
        auto owned =
            std::make_unique<usb_dev_handle>(usb_dev_handle{device->id, device->generation});
        handle = owned.get();
        w.handles[handle] = std::move(owned);
    }
    record(w, {TransferKind::Open, device ? device->id : 0, 0, {}, 0, 0, 0, result});
    remember(result);
    return handle;
}

__attribute__((visibility("default"))) int usb_close(usb_dev_handle* handle) {
    std::lock_guard lock(worldMutex());
    World& w = world();
    const auto found = w.handles.find(handle);
    if (found == w.handles.end()) {
        record(w, {TransferKind::Close, 0, 0, {}, 0, 0, 0, -EINVAL});
        return remember(-EINVAL);
    }
    Device* device = w.find(handle->device);
    if (device && device->claimedBy == handle) device->claimedBy = nullptr;
    record(w, {TransferKind::Close, handle->device, 0, {}, 0, 0, 0, 0});
    w.handles.erase(found);
    return 0;
}

__attribute__((visibility("default"))) int usb_set_configuration(usb_dev_handle* dev,
                                                                 int configuration) {
    return handleCall(TransferKind::SetConfiguration, dev, configuration, setConfiguration);
}

__attribute__((visibility("default"))) int usb_claim_interface(usb_dev_handle* dev, int interface) {
    return handleCall(TransferKind::ClaimInterface, dev, interface, claimInterface);
}

__attribute__((visibility("default"))) int usb_release_interface(usb_dev_handle* dev,
                                                                 int interface) {
    return handleCall(TransferKind::ReleaseInterface, dev, interface, releaseInterface);
}

__attribute__((visibility("default"))) int usb_bulk_write(usb_dev_handle* dev, int ep,
                                                          const char* bytes, int size,
                                                          int timeout) {
    return bulk(TransferKind::Write, dev, ep, size, timeout,
                [&](World& w, Device& device, Bytes& data) {
                    if (bytes == nullptr && size > 0) return -EINVAL;
                    data.assign(reinterpret_cast<const uint8_t*>(bytes),
                                reinterpret_cast<const uint8_t*>(bytes) + size);
                    return writeTo(w, device, ep, data);
                });
}

__attribute__((visibility("default"))) int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes,
                                                         int size, int timeout) {
    return bulk(TransferKind::Read, dev, ep, size, timeout,
                [&](World& w, Device& device, Bytes& data) {
                    if (bytes == nullptr && size > 0) return -EINVAL;
                    return readFrom(w, device, ep, bytes, size, data);
                });
}

__attribute__((visibility("default"))) char* usb_strerror(void) {
    return errorText;
}

__attribute__((visibility("default"))) struct usb_device* usb_device(usb_dev_handle* dev) {
    std::lock_guard lock(worldMutex());
    World& w = world();
    if (!w.handles.count(dev)) return nullptr;
    const auto found = w.deviceStructs.find({dev->device, dev->generation});
    return found == w.deviceStructs.end() ? nullptr : found->second.get();
}

}  // extern "C"
