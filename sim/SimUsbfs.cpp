// The usbfs requests of the kernel's USB interface (USBDEVFS_*), answered from the simulated world
// through umockdev's ioctl emulation, as the kernel answers them for a real device.
#include "sim/SimUsbfs.h"

#include <ftw.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <thread>

#include "sim/SimWorld.h"

namespace k350sim {

namespace {

struct Urb {
    UMockdevIoctlClient* client;
    UMockdevIoctlData* data;  // the resolved usbdevfs_urb, with its buffer resolved inside
    DeviceId device;
};

struct ClientState {
    DeviceId device = 0;
    int generation = 0;
    std::deque<UMockdevIoctlData*> completed;
    bool reapHeld = false;  // a blocking REAPURB waits for the next completion
    bool dead = false;      // its process has gone: every request fails as on a closed node
};

// Everything in flight, kept with the world's lock held.
struct Flight {
    std::vector<Urb> urbs;
    std::map<UMockdevIoctlClient*, ClientState> clients;
};

Flight& flight() {
    static Flight* instance = new Flight;  // the umockdev thread may answer during exit
    return *instance;
}

struct NodeOwner {
    DeviceId device;
};

void forgetClosedClients(World& w, Flight& f);
void release(World& w, Flight& f, UMockdevIoctlClient* client, ClientState& state);
void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer owner);

usbdevfs_urb* urbOf(UMockdevIoctlData* data) {
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

void finish(ClientState& client, UMockdevIoctlData* data, int status, const Bytes& bytes) {
    usbdevfs_urb* urb = urbOf(data);
    const size_t count = std::min(bytes.size(), size_t(std::max(urb->buffer_length, 0)));
    if (count > 0) std::memcpy(urb->buffer, bytes.data(), count);
    urb->actual_length = int(count);
    urb->status = status;
    client.completed.push_back(data);
}

bool gone(World& w, const ClientState& client) {
    if (client.dead) return true;
    Device* device = w.find(client.device);
    return device == nullptr || !device->plugged || device->generation != client.generation;
}

// Completes the reads whose reply has come, and every transfer of a device that has gone.
void progress(World& w, Flight& f) {
    std::set<DeviceId> reading;  // one read per device takes replies, in submission order
    for (auto it = f.urbs.begin(); it != f.urbs.end();) {
        ClientState& client = f.clients[it->client];
        Device* device = w.find(it->device);
        if (gone(w, client)) {
            finish(client, it->data, -ENODEV, {});
        } else if (reading.insert(it->device).second && replyReady(w, *device)) {
            Bytes bytes;
            const int result = takeReply(w, *device, size_t(urbOf(it->data)->buffer_length), bytes);
            finish(client, it->data, result < 0 ? result : 0, bytes);
        } else {
            ++it;
            continue;
        }
        it = f.urbs.erase(it);
    }
}

void completeWith(UMockdevIoctlClient* client, int result) {
    if (result < 0) {
        umockdev_ioctl_client_complete(client, -1, -result);
    } else {
        umockdev_ioctl_client_complete(client, result, 0);
    }
}

unsigned argumentValue(UMockdevIoctlData* arg) {
    UMockdevIoctlData* value = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
    if (value == nullptr) return ~0u;
    unsigned number = 0;
    std::memcpy(&number, value->data, sizeof number);
    g_object_unref(value);
    return number;
}

int submit(World& w, Flight& f, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    ClientState& state = f.clients[client];
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (data == nullptr) return -EFAULT;
    usbdevfs_urb* urb = urbOf(data);
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        data, offsetof(usbdevfs_urb, buffer), size_t(std::max(urb->buffer_length, 0)), nullptr);
    if (buffer) g_object_unref(buffer);  // the urb keeps it
    Device* device = gone(w, state) ? nullptr : w.find(state.device);
    const int64_t index = w.transfers++;
    int result = plannedFault(w, index, device);
    if (result == 0 && device == nullptr) result = -ENODEV;
    if (result == 0 && (urb->type != USBDEVFS_URB_TYPE_BULK || buffer == nullptr)) result = -EINVAL;
    if (result < 0) {
        g_object_unref(data);
        return result;
    }
    if (unplugsDuring(w, index)) w.unplug(*device);  // the transfer starts, the cable goes
    if (urb->endpoint & 0x80) {
        startRead(w, *device);
        f.urbs.push_back({client, data, state.device});
        return 0;
    }
    const auto* from = static_cast<const uint8_t*>(urb->buffer);
    const Bytes bytes(from, from + std::max(urb->buffer_length, 0));
    const int written = gone(w, state) ? -ENODEV : writeTo(w, *device, urb->endpoint, bytes);
    finish(state, data, written < 0 ? written : 0, written < 0 ? Bytes{} : bytes);
    return 0;
}

// Hands a completed urb back; returns -EAGAIN with none, -ENODEV once the device has gone.
int reap(World& w, Flight& f, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    progress(w, f);
    ClientState& state = f.clients[client];
    if (state.completed.empty()) return gone(w, state) ? -ENODEV : -EAGAIN;
    UMockdevIoctlData* data = state.completed.front();
    state.completed.pop_front();
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (pointer) {
        umockdev_ioctl_data_set_ptr(pointer, 0, data);
        g_object_unref(pointer);
    }
    g_object_unref(data);
    return 0;
}

int discard(Flight& f, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min(sizeof address, size_t(arg->data_len)));
    for (auto it = f.urbs.begin(); it != f.urbs.end(); ++it) {
        if (it->client != client || it->data->client_addr != address) continue;
        finish(f.clients[client], it->data, -ENOENT, {});
        f.urbs.erase(it);
        return 0;
    }
    return -EINVAL;  // already completed: the caller reaps it as it is
}

// A blocking reap returns when something completes; with nothing in flight it waits for good,
// as the kernel's does.
void holdReap(UMockdevIoctlClient* client) {
    g_object_ref(client);
    std::thread([client] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::lock_guard lock(worldMutex());
            World& w = world();
            Flight& f = flight();
            if (!umockdev_ioctl_client_get_connected(client)) break;
            const int result = reap(w, f, client, umockdev_ioctl_client_get_arg(client));
            if (result == -EAGAIN) continue;
            completeWith(client, result);
            break;
        }
        g_object_unref(client);
    }).detach();
}

// Which driver holds an interface: a kernel driver, or usbfs for a program that claimed it.
int driverAnswer(const Device* device, UMockdevIoctlData* arg) {
    if (device == nullptr) return -ENODEV;
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
    if (data == nullptr) return -EFAULT;
    auto* question = reinterpret_cast<usbdevfs_getdriver*>(data->data);
    std::string name;
    const int result = driverOf(*device, int(question->interface), name);
    if (result == 0) std::snprintf(question->driver, sizeof question->driver, "%s", name.c_str());
    g_object_unref(data);
    return result;
}

int answer(World& w, Flight& f, UMockdevIoctlClient* client, unsigned long request,
           UMockdevIoctlData* arg) {
    ClientState& state = f.clients[client];
    Device* device = gone(w, state) ? nullptr : w.find(state.device);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
            if (caps == nullptr) return -EFAULT;
            const uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            std::memcpy(caps->data, &value, sizeof value);
            g_object_unref(caps);
            return 0;
        }
        case USBDEVFS_SETCONFIGURATION:
            forgetClosedClients(w, f);
            return device ? setConfigurationOf(w, *device, int(argumentValue(arg))) : -ENODEV;
        case USBDEVFS_CLAIMINTERFACE:
            forgetClosedClients(w, f);
            return device ? claimInterfaceOf(*device, client, int(argumentValue(arg))) : -ENODEV;
        case USBDEVFS_RELEASEINTERFACE:
            return device ? releaseInterfaceOf(*device, client, int(argumentValue(arg))) : -ENODEV;
        case USBDEVFS_GETDRIVER:
            return driverAnswer(device, arg);
        case USBDEVFS_SUBMITURB:
            return submit(w, f, client, arg);
        case USBDEVFS_REAPURBNDELAY:
            return reap(w, f, client, arg);
        case USBDEVFS_DISCARDURB:
            return discard(f, client, arg);
        default:
            return -ENOTTY;
    }
}

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer owner) {
    std::lock_guard lock(worldMutex());
    World& w = world();
    Flight& f = flight();
    if (!f.clients.count(client)) onConnected(nullptr, client, owner);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == USBDEVFS_REAPURB) {
        const int result = reap(w, f, client, arg);
        if (result == -EAGAIN) {
            holdReap(client);
            return TRUE;
        }
        completeWith(client, result);
        return TRUE;
    }
    completeWith(client, answer(w, f, client, request, arg));
    return TRUE;
}

// A node that was closed gives up its interface and its transfers, as the kernel's release
// does. umockdev tells of a new client but not reliably of one that went, so this runs before
// anything that depends on it; every client is held until then, so its address is not reused.
void forgetClosedClients(World& w, Flight& f) {
    for (auto it = f.clients.begin(); it != f.clients.end();) {
        UMockdevIoctlClient* client = it->first;
        if (umockdev_ioctl_client_get_connected(client)) {
            ++it;
            continue;
        }
        release(w, f, client, it->second);
        g_object_unref(client);
        it = f.clients.erase(it);
    }
}

// What the kernel does when a node is closed: the interface is given up, the transfers dropped.
void release(World& w, Flight& f, UMockdevIoctlClient* client, ClientState& state) {
    for (auto urb = f.urbs.begin(); urb != f.urbs.end();) {
        if (urb->client != client) {
            ++urb;
            continue;
        }
        g_object_unref(urb->data);
        urb = f.urbs.erase(urb);
    }
    for (UMockdevIoctlData* data : state.completed) g_object_unref(data);
    state.completed.clear();
    if (Device* device = w.find(state.device); device && device->claimedBy == client)
        device->claimedBy = nullptr;
}

void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer owner) {
    std::lock_guard lock(worldMutex());
    World& w = world();
    Flight& f = flight();
    forgetClosedClients(w, f);
    if (f.clients.count(client)) return;
    ClientState& state = f.clients[client];
    g_object_ref(client);
    state.device = static_cast<NodeOwner*>(owner)->device;
    Device* device = w.find(state.device);
    state.generation = device ? device->generation : -1;
}

std::string threeDigits(int number) {
    char text[8];
    std::snprintf(text, sizeof text, "%03d", number);
    return text;
}

std::string hexText(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

int openToAll(const char* path, const struct stat* info, int, struct FTW*) {
    chmod(path, S_ISDIR(info->st_mode) ? 0777 : (info->st_mode & 07777) | 0666);
    return 0;
}

}  // namespace

UsbfsAttachment::UsbfsAttachment() {
    testbed_ = umockdev_testbed_new();
    if (testbed_ == nullptr) throw std::runtime_error("k350sim: umockdev cannot make a testbed");
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    rootDir_ = root;
    g_free(root);
}

UsbfsAttachment::~UsbfsAttachment() {
    for (const std::string& node : nodes_)
        umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
    g_object_unref(testbed_);  // removes the testbed's folder
    for (UMockdevIoctlBase* handler : handlers_) g_object_unref(handler);
}

void UsbfsAttachment::attachWorld() {
    attachBuses({});
}

void UsbfsAttachment::attachBuses(const std::set<int>& buses) {
    std::vector<DeviceId> devices;
    {
        std::lock_guard lock(worldMutex());
        World& w = world();
        ensureWorld(w);
        const auto wanted = [&](const Device& device, bool rootHub) {
            return device.plugged && device.rootHub == rootHub &&
                   (buses.empty() || buses.count(device.bus));
        };
        // Root hubs first, so that every device's parent is there when it is added.
        for (const auto& device : w.devices)
            if (wanted(*device, true)) devices.push_back(device->id);
        for (const auto& device : w.devices)
            if (wanted(*device, false)) devices.push_back(device->id);
    }
    for (DeviceId device : devices) attachDevice(device);
}

std::string UsbfsAttachment::nodePath(DeviceId id) const {
    std::lock_guard lock(worldMutex());
    Device* device = world().find(id);
    if (device == nullptr) return {};
    return "/dev/bus/usb/" + threeDigits(device->bus + 1) + "/" + threeDigits(device->address);
}

std::string UsbfsAttachment::portPath(DeviceId id) const {
    std::lock_guard lock(worldMutex());
    Device* device = world().find(id);
    if (device == nullptr || device->rootHub) return {};
    return std::to_string(device->bus + 1) + "-" + std::to_string(device->address - 1);
}

void UsbfsAttachment::attachDevice(DeviceId id) {
    struct {
        int bus = 0, address = 0, configuration = 0;
        bool rootHub = false;
    } snapshot;
    Bytes descriptors;
    {
        std::lock_guard lock(worldMutex());
        Device* device = world().find(id);
        if (device == nullptr) return;
        snapshot.bus = device->bus;
        snapshot.address = device->address;
        snapshot.rootHub = device->rootHub;
        snapshot.configuration = device->configuration;
        descriptors = descriptorsOf(*device);
    }
    const std::string bus = std::to_string(snapshot.bus + 1);
    const std::string hub = "/devices/pci0000:00/0000:00:14.0/usb" + bus;
    const std::string sysPath = snapshot.rootHub ? hub : hub + "/" + portPath(id);
    const std::string node = nodePath(id);

    auto* handler = umockdev_ioctl_base_new();
    auto* owner = new NodeOwner{id};
    g_signal_connect_data(
        handler, "handle-ioctl", G_CALLBACK(onIoctl), owner,
        [](gpointer owner, GClosure*) { delete static_cast<NodeOwner*>(owner); }, GConnectFlags(0));
    g_signal_connect(handler, "client-connected", G_CALLBACK(onConnected), owner);
    handlers_.push_back(handler);
    nodes_.push_back(node);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler, &error)) {
        const std::string text = error ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error("k350sim: cannot attach " + node + ": " + text);
    }
    const std::string devnum = threeDigits(snapshot.address);
    const std::string entry =
        "P: " + sysPath + "\nN: " + node.substr(5) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
        "E: BUSNUM=" + threeDigits(snapshot.bus + 1) + "\nE: DEVNUM=" + devnum +
        "\nE: DEVNAME=" + node + "\nA: busnum=" + bus +
        "\\n\nA: devnum=" + std::to_string(snapshot.address) + "\\n\nA: bConfigurationValue=" +
        (snapshot.configuration ? std::to_string(snapshot.configuration) : "") +
        "\\n\nA: speed=" + (snapshot.rootHub ? "480" : "12") +
        "\\n\nH: descriptors=" + hexText(descriptors) + "\n";
    if (!umockdev_testbed_add_from_string(testbed_, entry.c_str(), &error)) {
        const std::string text = error ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error("k350sim: cannot add " + sysPath + ": " + text);
    }
    sysPaths_[id] = "/sys" + sysPath;
    devices_.insert(id);
}

void UsbfsAttachment::processGone() {
    std::lock_guard lock(worldMutex());
    World& w = world();
    Flight& f = flight();
    for (auto& [client, state] : f.clients) {
        if (state.dead || !devices_.count(state.device)) continue;
        release(w, f, client, state);
        state.dead = true;  // kept (and its reference held), so its address is never reused
    }
}

void UsbfsAttachment::unplug(DeviceId id) {
    k350sim::unplug(id);
    const auto found = sysPaths_.find(id);
    if (found == sysPaths_.end()) return;
    umockdev_testbed_uevent(testbed_, found->second.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, found->second.c_str());
    sysPaths_.erase(found);
}

void UsbfsAttachment::setNodeMode(DeviceId id, mode_t mode) {
    const std::string file = rootDir_ + nodePath(id);
    if (chmod(file.c_str(), mode) != 0)
        throw std::runtime_error("k350sim: cannot change the mode of " + file);
}

void UsbfsAttachment::openToEveryone() {
    nftw(rootDir_.c_str(), openToAll, 16, FTW_PHYS);
}

}  // namespace k350sim
