// The simulated USB world shared by the exported usb_* functions and the control interface.
#pragma once

#include <usb.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/SimBoard.h"

struct usb_dev_handle {
    k350sim::DeviceId device;
    int generation;
};

namespace k350sim {

// A reply waiting on endpoint 0x81, or the error its read is to return; readable from readyAtUs,
// or, for a delayed reply, delayUs after the host starts the read that collects it.
struct PendingReply {
    Bytes bytes;
    int error = 0;
    int64_t readyAtUs = 0;
    int64_t delayUs = -1;
};

struct Device {
    DeviceId id = 0;
    int bus = 0;
    int address = 0;  // on its bus: 1 for the root hub, then 2, 3, ... in attach order
    bool rootHub = false;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool plugged = true;
    int generation = 0;  // grows on every unplug, so old handles and list entries go stale
    int configuration = 0;
    const void* claimedBy =
        nullptr;  // the handle (0.1 API) or open node (usbfs) holding interface 0
    std::optional<PendingReply> pending;
    int64_t replies = 0;                     // replies this board has made
    std::map<int64_t, int64_t> replyDelays;  // by its reply index: microseconds after the request
    std::unique_ptr<Board> board;            // null for a device that is not a K-350
};

struct Faults {
    std::map<int64_t, int> failures;         // by bulk transfer index
    std::set<int64_t> unplugs;               // by bulk transfer index: gone before it starts
    std::set<int64_t> unplugsDuring;         // by bulk transfer index: gone while it is in flight
    std::map<int64_t, int> shortReplies;     // by reply index
    std::map<int64_t, uint16_t> wrongCodes;  // by reply index
    ReplyHook hook;
};

struct World {
    Device* find(DeviceId id);
    Device& board(DeviceId id);  // throws std::invalid_argument for anything but a board
    int64_t now() const { return clockNow(); }
    void advance(int64_t us) const { clockAdvance(us); }
    void unplug(Device& device);
    void rebaseBoards();

    int busCount = 0;
    std::vector<std::unique_ptr<Device>> devices;  // in the order they were attached
    bool configured = false;                       // a test or the default world has built it

    // The list handed out by usb_get_busses, with the structures kept for the process lifetime
    // so that a stale list can never be read after it was freed.
    usb_bus* listHead = nullptr;
    std::vector<std::unique_ptr<usb_bus>> busStructs;
    std::map<std::pair<DeviceId, int>, std::unique_ptr<struct usb_device>> deviceStructs;
    std::map<const struct usb_device*, std::pair<DeviceId, int>> listed;
    std::map<const usb_dev_handle*, std::unique_ptr<usb_dev_handle>> handles;

    std::vector<TransferRecord> log;
    std::vector<std::string> violations;
    Faults faults;
    int64_t transfers = 0;  // bulk transfers so far
    int64_t scans = 0;      // usb_find_devices calls so far
    int64_t replies = 0;    // replies made so far

    std::function<int64_t()> clockNow;
    std::function<void(int64_t)> clockAdvance;
    std::string stateFile;  // keeps EEPROM and flash between runs when set
    // Once this file exists, every scan of the bus blocks for good (K350_SIM_SCAN_HANG).
    std::string scanHangFile;
};

// What both attachments do with a device, the 0.1 API's handles and usbfs's open nodes alike.
// Call with worldMutex() held.
constexpr int kCommandOut = 0x01;
constexpr int kReplyIn = 0x81;
constexpr int kBootOut = 0x06;
constexpr size_t kMaxPacket = 64;  // full-speed bulk endpoints
int setConfigurationOf(World& w, Device& device, int configuration);
int claimInterfaceOf(Device& device, const void* owner, int interface);
int releaseInterfaceOf(Device& device, const void* owner, int interface);
// The driver that holds the interface, as the kernel names it: a kernel driver's own name, or
// "usbfs" for a program that claimed it; -ENODATA when none does.
int driverOf(const Device& device, int interface, std::string& name);
int writeTo(World& w, Device& device, int endpoint, const Bytes& data);
// A read of up to `size` bytes when the reply is ready: the bytes, or -EOVERFLOW when the reply
// ends in a packet that does not fit; 0 bytes are never a reply.
int takeReply(World& w, Device& device, size_t size, Bytes& returned);
bool replyReady(const World& w, const Device& device);
void startRead(World& w, Device& device);  // a read begins: a delayed reply's time starts
// The fault planned for bulk transfer `index` (it starts, or would start, now), or 0.
int plannedFault(World& w, int64_t index, Device* device);
bool unplugsDuring(World& w, int64_t index);
// The device's USB descriptors as the kernel's sysfs "descriptors" file holds them.
Bytes descriptorsOf(const Device& device);

std::recursive_mutex& worldMutex();
World& world();              // call with worldMutex() held
void ensureWorld(World& w);  // builds the default world if nobody built one
void saveState(World& w, const Board& board);
void loadState(World& w, Board& board);

}  // namespace k350sim
