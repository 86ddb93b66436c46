// The libusb-0.1 functions, answered by the simulated world. Exported with C linkage so that the
// terminal links against them, or picks them up through LD_PRELOAD in place of the real libusb.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "sim/SimWorld.h"

using namespace k350sim;

// Declared by usb.h outside its extern "C" block; a global variable's symbol is its plain name.
__attribute__((visibility("default"))) struct usb_bus* usb_busses = nullptr;

namespace {

constexpr int64_t kFrameUs = 1000;

thread_local char errorText[96] = "no error";

int remember(int result) {
    if (result < 0) errno = -result;  // where the 0.1 API leaves why usb_open failed
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

// The configurations of usb.h, read from the device's descriptors as the 0.1 library reads them.
struct ConfigStructs {
    std::vector<usb_config_descriptor> configs;
    std::deque<usb_interface> interfaces;
    std::deque<usb_interface_descriptor> settings;
    std::deque<std::vector<usb_endpoint_descriptor>> endpoints;
};

// A descriptor's two-byte field, little-endian as USB sends it.
uint16_t wordAt(const uint8_t* bytes) {
    return uint16_t(bytes[0] | bytes[1] << 8);
}

void parseConfigurations(const Bytes& raw, ConfigStructs& out) {
    out.configs.reserve(raw.size() > 17 ? raw[17] : 0);
    usb_interface_descriptor* setting = nullptr;
    for (size_t at = raw.size() > 0 ? raw[0] : raw.size(); at + 1 < raw.size(); at += raw[at]) {
        const uint8_t* d = raw.data() + at;
        if (d[0] < 2 || at + d[0] > raw.size()) break;
        if (d[1] == USB_DT_CONFIG && d[0] >= 9 && out.configs.size() < out.configs.capacity()) {
            usb_config_descriptor c{};
            c.bLength = d[0];
            c.bDescriptorType = d[1];
            c.wTotalLength = wordAt(d + 2);
            c.bNumInterfaces = d[4];
            c.bConfigurationValue = d[5];
            c.iConfiguration = d[6];
            c.bmAttributes = d[7];
            c.MaxPower = d[8];
            out.configs.push_back(c);
        } else if (d[1] == USB_DT_INTERFACE && d[0] >= 9 && !out.configs.empty()) {
            usb_interface_descriptor i{};
            i.bLength = d[0];
            i.bDescriptorType = d[1];
            i.bInterfaceNumber = d[2];
            i.bAlternateSetting = d[3];
            i.bNumEndpoints = d[4];
            i.bInterfaceClass = d[5];
            i.bInterfaceSubClass = d[6];
            i.bInterfaceProtocol = d[7];
            i.iInterface = d[8];
            setting = &out.settings.emplace_back(i);
            out.endpoints.emplace_back().reserve(i.bNumEndpoints);
            out.interfaces.push_back(usb_interface{setting, 1});
            if (!out.configs.back().interface)
                out.configs.back().interface = &out.interfaces.back();
        } else if (d[1] == USB_DT_ENDPOINT && d[0] >= 7 && setting) {
            auto& list = out.endpoints.back();
            if (list.size() >= list.capacity()) continue;
            usb_endpoint_descriptor e{};
            e.bLength = d[0];
            e.bDescriptorType = d[1];
            e.bEndpointAddress = d[2];
            e.bmAttributes = d[3];
            e.wMaxPacketSize = wordAt(d + 4);
            e.bInterval = d[6];
            list.push_back(e);
            setting->endpoint = list.data();
        }
    }
}

void fillDescriptor(const Bytes& raw, usb_device_descriptor& to) {
    if (raw.size() < USB_DT_DEVICE_SIZE) return;
    to.bLength = raw[0];
    to.bDescriptorType = raw[1];
    to.bcdUSB = wordAt(&raw[2]);
    to.bDeviceClass = raw[4];
    to.bDeviceSubClass = raw[5];
    to.bDeviceProtocol = raw[6];
    to.bMaxPacketSize0 = raw[7];
    to.idVendor = wordAt(&raw[8]);
    to.idProduct = wordAt(&raw[10]);
    to.bcdDevice = wordAt(&raw[12]);
    to.iManufacturer = raw[14];
    to.iProduct = raw[15];
    to.iSerialNumber = raw[16];
    to.bNumConfigurations = raw[17];
}

struct usb_device* structFor(World& w, const Device& device, usb_bus* bus) {
    static std::map<const struct usb_device*, std::unique_ptr<ConfigStructs>> configStructs;
    auto& slot = w.deviceStructs[{device.id, device.generation}];
    if (!slot) {
        slot = std::make_unique<struct usb_device>();
        std::snprintf(slot->filename, sizeof slot->filename, "%03d", device.address % 1000);
        const Bytes raw = descriptorsOf(device);
        fillDescriptor(raw, slot->descriptor);
        auto& configs = configStructs[slot.get()];
        configs = std::make_unique<ConfigStructs>();
        parseConfigurations(raw, *configs);
        slot->config = configs->configs.empty() ? nullptr : configs->configs.data();
        slot->devnum = uint8_t(device.address);
        w.listed[slot.get()] = {device.id, device.generation};
    }
    slot->bus = bus;
    slot->next = slot->prev = nullptr;
    if (device.rootHub) bus->root_dev = slot.get();
    return slot.get();
}

void linkDevices(World& w, usb_bus* bus, int index) {
    struct usb_device* last = nullptr;
    bus->devices = bus->root_dev = nullptr;
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

int readFrom(World& w, Device& device, int endpoint, char* bytes, int size, int timeoutMs,
             Bytes& returned) {
    const bool claimed = device.claimedBy != nullptr;
    if (!device.board || !claimed || device.configuration != 2 || endpoint != kReplyIn) {
        w.violations.push_back("read from endpoint " + hex(endpoint) + " in configuration " +
                               std::to_string(device.configuration) +
                               (claimed ? "" : " without claim"));
        return -EINVAL;
    }
    if (!device.pending) return -ETIMEDOUT;
    startRead(w, device);
    if (!replyReady(w, device)) {
        // A reply the board sends later: it arrives within this read's time, or waits for the next.
        const int64_t waitUs = device.pending->readyAtUs - w.now();
        if (timeoutMs > 0 && waitUs > int64_t(timeoutMs) * 1000) return -ETIMEDOUT;
        w.advance(waitUs);
    }
    const int result = takeReply(w, device, size_t(size), returned);
    if (result > 0) std::memcpy(bytes, returned.data(), size_t(result));
    return result;
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
    if (result == 0 && unplugsDuring(w, index)) {
        w.unplug(*device);
        result = -ENODEV;
    }
    if (result == 0) result = size < 0 ? -EINVAL : transfer(w, *device, entry.data);
    // A timed-out read leaves a reply that is still on its way for the next read.
    const bool replyOnItsWay = device && device->pending && device->pending->readyAtUs > w.now();
    if (result < 0 && device && kind == TransferKind::Read && !replyOnItsWay)
        device->pending.reset();
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
    return setConfigurationOf(w, device, configuration);
}

int claimInterface(World&, Device& device, usb_dev_handle* handle, int interface) {
    return claimInterfaceOf(device, handle, interface);
}

int releaseInterface(World&, Device& device, usb_dev_handle* handle, int interface) {
    return releaseInterfaceOf(device, handle, interface);
}

// A scan that never returns, as a bus stuck in the kernel would leave it; the world stays
// usable for the program's other threads.
[[noreturn]] void hangForGood(const std::string& file) {
    std::fprintf(stderr, "k350sim: the scan hangs (%s exists)\n", file.c_str());
    for (;;) pause();
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
    std::string hangFile;
    {
        std::lock_guard lock(worldMutex());
        ensureWorld(world());
        ++world().scans;
        hangFile = world().scanHangFile;
        if (hangFile.empty() || access(hangFile.c_str(), F_OK) != 0) return rescan(world());
    }
    hangForGood(hangFile);
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

// A question, not an exchange with the board: it is not in the transfer log.
__attribute__((visibility("default"))) int usb_get_driver_np(usb_dev_handle* dev, int interface,
                                                             char* name, unsigned int namelen) {
    std::lock_guard lock(worldMutex());
    World& w = world();
    int result = 0;
    Device* device = deviceOf(w, dev, result);
    std::string driver;
    if (device) result = driverOf(*device, interface, driver);
    if (result == 0 && (name == nullptr || namelen == 0)) result = -EINVAL;
    if (result == 0) std::snprintf(name, namelen, "%s", driver.c_str());
    return remember(result);
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
                    return readFrom(w, device, ep, bytes, size, timeout, data);
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
