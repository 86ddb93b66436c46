// The control interface: building the world, looking inside the boards, planning faults.
#include "sim/SimControl.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "sim/SimWorld.h"

namespace k350sim {

namespace {

int64_t steadyNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void useDefaultClock(World& w) {
    w.clockNow = steadyNowUs;
    w.clockAdvance = [](int64_t) {};
}

DeviceId nextDeviceId() {
    static DeviceId last = 0;
    return ++last;
}

// Runs f(world) with the world locked and returns what it returns.
template <typename F>
auto locked(F f) {
    std::lock_guard lock(worldMutex());
    return f(world());
}

Device& attach(World& w, int bus, uint16_t vendorId, uint16_t productId) {
    if (bus < 0 || bus >= w.busCount)
        throw std::invalid_argument("k350sim: no bus " + std::to_string(bus));
    auto device = std::make_unique<Device>();
    device->id = nextDeviceId();
    device->bus = bus;
    device->address = 1;
    for (const auto& other : w.devices) {
        if (other->bus == bus) device->address = std::max(device->address, other->address + 1);
    }
    device->vendorId = vendorId;
    device->productId = productId;
    w.devices.push_back(std::move(device));
    w.configured = true;
    return *w.devices.back();
}

void copyInto(Bytes& memory, uint32_t address, const Bytes& bytes) {
    if (address > memory.size() || bytes.size() > memory.size() - address) {
        throw std::out_of_range("k350sim: bytes beyond the memory");
    }
    std::copy(bytes.begin(), bytes.end(), memory.begin() + address);
}

}  // namespace

std::recursive_mutex& worldMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

World& world() {
    static World* instance = [] {
        auto* w = new World;  // never destroyed: a worker may still call in during exit
        useDefaultClock(*w);
        return w;
    }();
    return *instance;
}

Device* World::find(DeviceId id) {
    for (auto& device : devices) {
        if (device->id == id) return device.get();
    }
    return nullptr;
}

Device& World::board(DeviceId id) {
    Device* device = find(id);
    if (device == nullptr || !device->board) {
        throw std::invalid_argument("k350sim: no board " + std::to_string(id));
    }
    return *device;
}

void World::unplug(Device& device) {
    device.plugged = false;
    ++device.generation;
    device.configuration = 0;
    device.claimedBy = nullptr;
    device.pending.reset();
}

void World::rebaseBoards() {
    const int64_t nowUs = now();
    for (auto& device : devices) {
        if (!device->board) continue;
        device->board->statistics.reset(nowUs);
        device->board->trace.rebase(nowUs);
        device->board->eeprom.rebase();
        device->board->flash.rebase();
    }
}

void reset() {
    locked([](World& w) {
        w.devices.clear();
        w.handles.clear();
        w.busCount = 0;
        w.configured = true;
        w.log.clear();
        w.violations.clear();
        w.faults = Faults{};
        w.stateFile.clear();
        useDefaultClock(w);
    });
}

// A bus as a PC has it: its root hub is the first device, at address 1.
int addBus() {
    return locked([](World& w) {
        w.configured = true;
        const int bus = w.busCount++;
        attach(w, bus, kRootHubVendorId, kRootHubProductId).rootHub = true;
        return bus;
    });
}

DeviceId addBoard(int bus, const BoardOptions& options) {
    return locked([&](World& w) {
        Device& device = attach(w, bus, kBoardVendorId, kBoardProductId);
        device.board = std::make_unique<Board>(options);
        device.board->statistics.reset(w.now());
        device.board->trace.rebase(w.now());
        return device.id;
    });
}

DeviceId addOtherDevice(int bus, uint16_t vendorId, uint16_t productId) {
    return locked([&](World& w) { return attach(w, bus, vendorId, productId).id; });
}

void unplug(DeviceId id) {
    locked([&](World& w) {
        if (Device* device = w.find(id); device && device->plugged) w.unplug(*device);
    });
}

void replug(DeviceId id) {
    locked([&](World& w) {
        if (Device* device = w.find(id)) device->plugged = true;
    });
}

Bytes eeprom(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->eeprom.memory; });
}

void setEeprom(DeviceId id, uint32_t address, const Bytes& bytes) {
    locked([&](World& w) { copyInto(w.board(id).board->eeprom.memory, address, bytes); });
}

std::array<uint16_t, 128> codecRegisters(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->codecRegisters; });
}

std::vector<CodecWrite> codecWrites(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->codecWrites; });
}

Bytes amplifierBytes(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->amplifierBytes; });
}

Bytes recorderSettings(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->recorder; });
}

Bytes vocoderSettings(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->vocoder; });
}

Bytes flash(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->flash.memory; });
}

void setFlash(DeviceId id, uint32_t address, const Bytes& bytes) {
    locked([&](World& w) { copyInto(w.board(id).board->flash.memory, address, bytes); });
}

std::vector<uint32_t> eraseLog(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->flash.eraseLog; });
}

Bytes bootBytes(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->bootBytes; });
}

std::array<uint32_t, kStatisticsWords> statistics(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->statistics.at(w.now()); });
}

uint16_t traceMask(DeviceId id) {
    return locked([&](World& w) { return w.board(id).board->trace.mask(); });
}

void pushTraceRecord(DeviceId id, const Bytes& payload) {
    locked([&](World& w) { w.board(id).board->trace.push(payload); });
}

int configuration(DeviceId id) {
    return locked([&](World& w) { return w.board(id).configuration; });
}

std::vector<TransferRecord> transferLog() {
    return locked([](World& w) { return w.log; });
}

std::vector<Bytes> requests() {
    return locked([](World& w) {
        std::vector<Bytes> result;
        for (const auto& entry : w.log) {
            if (entry.kind == TransferKind::Write && entry.endpoint == 0x01)
                result.push_back(entry.data);
        }
        return result;
    });
}

Bytes lastRequest() {
    const auto all = requests();
    return all.empty() ? Bytes{} : all.back();
}

void clearLog() {
    locked([](World& w) { w.log.clear(); });
}

std::vector<std::string> violations() {
    return locked([](World& w) { return w.violations; });
}

void clearViolations() {
    locked([](World& w) { w.violations.clear(); });
}

void failTransfer(int nth, int error) {
    if (error >= 0) throw std::invalid_argument("k350sim: a failure needs a negative errno");
    locked([&](World& w) { w.faults.failures[w.transfers + nth] = error; });
}

void shortReply(int nth, int length) {
    locked([&](World& w) { w.faults.shortReplies[w.replies + nth] = length; });
}

void wrongReplyCode(int nth, uint16_t code) {
    locked([&](World& w) { w.faults.wrongCodes[w.replies + nth] = code; });
}

void unplugAtTransfer(int nth) {
    locked([&](World& w) { w.faults.unplugs.insert(w.transfers + nth); });
}

int64_t transfers() {
    return locked([](World& w) { return w.transfers; });
}

int64_t scans() {
    return locked([](World& w) { return w.scans; });
}

void unplugDuringTransfer(int nth) {
    locked([&](World& w) { w.faults.unplugsDuring.insert(w.transfers + nth); });
}

void delayReply(DeviceId board, int nth, int64_t delayUs) {
    locked([&](World& w) {
        Device& device = w.board(board);
        device.replyDelays[device.replies + nth] = delayUs;
    });
}

void setCapacity(DeviceId id, uint16_t capacity) {
    locked([&](World& w) { w.board(id).board->options.capacity = capacity; });
}

void setFlashNeverReady(DeviceId id, bool neverReady) {
    locked([&](World& w) { w.board(id).board->flash.neverReady = neverReady; });
}

void setReplyHook(ReplyHook hook) {
    locked([&](World& w) { w.faults.hook = std::move(hook); });
}

void setClock(std::function<int64_t()> now, std::function<void(int64_t)> advance) {
    locked([&](World& w) {
        if (now) {
            w.clockNow = std::move(now);
            w.clockAdvance = advance ? std::move(advance) : [](int64_t) {};
        } else {
            useDefaultClock(w);
        }
        w.rebaseBoards();
    });
}

int64_t nowUs() {
    return locked([](World& w) { return w.now(); });
}

}  // namespace k350sim
