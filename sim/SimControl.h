// Control interface of the simulated K-350 board world. The usb_* functions exported by
// k350sim act on this world; tests build it, inject faults and inspect what the host did.
// Every function is thread-safe: the worker may call usb_* while a test uses these.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace k350sim {

using Bytes = std::vector<uint8_t>;
using Id8 = std::array<uint8_t, 8>;
// Identifies a device added to the world; unique for the whole process, never reused.
using DeviceId = int;

constexpr uint16_t kRootHubVendorId = 0x1D6B;  // Linux Foundation
constexpr uint16_t kRootHubProductId = 0x0002;
constexpr uint16_t kBoardVendorId = 0x0451;
constexpr uint16_t kBoardProductId = 0x9001;
constexpr uint32_t kEepromSize = 16 * 1024;
constexpr int kStatisticsWords = 17;

// Boards that differ as real ones do: flash busy times and link figures vary from board to board,
// drawn from the die ID. Off, every board has the nominal figures.
struct BoardSpread {
    bool enabled = false;
    double flashSlowdown = 1;  // a marginal board: its flash takes this many times as long
    double wear = 0;           // a drifting port: this share worse than its figures, all of them
};

struct BoardOptions {
    uint16_t capacity = 512;  // largest payload the board takes; requests may be capacity + 8 long
    Id8 dieId{0x35, 0x0A, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    Id8 chipId{0x54, 0x49, 0x00, 0x05, 0x50, 0xC1, 0x02, 0x07};
    bool bootMode = false;               // only configuration 1: boot loader on endpoint 0x06
    bool cannotOpen = false;             // usb_open fails
    bool refusesConfiguration2 = false;  // usb_set_configuration(2) fails
    bool refusesInterface0 = false;      // usb_claim_interface(0) fails: another program has it
    std::string kernelDriver{};          // a kernel driver of this name holds interface 0
    uint32_t flashSize = 128 * 1024;     // at least 128 KiB
    BoardSpread spread{};
};

enum class TransferKind {
    Open,
    Close,
    SetConfiguration,
    ClaimInterface,
    ReleaseInterface,
    Write,
    Read
};

// One call the host made. For bulk transfers: endpoint, bytes written or returned, requested
// size and timeout; for set_configuration/claim/release, `endpoint` holds the number passed.
struct TransferRecord {
    TransferKind kind;
    DeviceId device;
    int endpoint = 0;
    Bytes data;
    int size = 0;
    int timeoutMs = 0;
    int64_t timeUs = 0;
    int result = 0;
};

struct CodecWrite {
    uint8_t reg;
    uint16_t value;  // 9 bits
};

// Sees every reply the board produces, before it is queued for reading. May change `reply`.
// Returns 0 to deliver it, a positive value to drop it (the read times out), or a negative
// errno that the next read on endpoint 0x81 returns instead. Runs with the simulator locked: it
// may call the functions below, but must not wait for another thread that does.
using ReplyHook = std::function<int(DeviceId board, const Bytes& request, Bytes& reply)>;

// --- the world ---
void reset();              // empty world, no faults, log cleared
void buildDefaultWorld();  // one healthy board, shaped by K350_SIM_* variables
int addBus();              // returns the bus index, 0 based; its root hub is its first device
DeviceId addBoard(int bus,
                  const BoardOptions& options = {});  // a K-350 board at the end of the bus
DeviceId addOtherDevice(int bus, uint16_t vendorId, uint16_t productId);  // some unrelated device
void unplug(DeviceId device);                    // gone now; its handles fail with -ENODEV
void replug(DeviceId device);                    // back, seen after the next usb_find_devices
Bytes plausibleConfiguration(uint8_t model);     // 140-byte record, valid CRC; 0 = A, 1 = B
uint16_t configurationCrc(const Bytes& record);  // CRC word of record bytes 2..139 as stored

// --- what the board holds ---
Bytes eeprom(DeviceId board);                                          // all 16 KiB
void setEeprom(DeviceId board, uint32_t address, const Bytes& bytes);  // preload contents
std::array<uint16_t, 128> codecRegisters(DeviceId board);  // value last written to each register
std::vector<CodecWrite> codecWrites(DeviceId board);       // every codec register write in order
Bytes amplifierBytes(DeviceId board);    // every LF amplifier command byte in order
Bytes recorderSettings(DeviceId board);  // payload of the last command 4, empty if none
Bytes vocoderSettings(DeviceId board);   // payload of the last command 7, empty if none
Bytes flash(DeviceId board);             // whole flash contents
void setFlash(DeviceId board, uint32_t address, const Bytes& bytes);  // preload contents
std::vector<uint32_t> eraseLog(DeviceId board);  // sector addresses erased, in order
Bytes bootBytes(DeviceId board);                 // everything the boot loader received
std::array<uint32_t, kStatisticsWords> statistics(DeviceId board);  // counters as of now
uint16_t traceMask(DeviceId board);                                 // last channel selection
void pushTraceRecord(DeviceId board, const Bytes& payload);  // queue a raw trace reply payload
int configuration(DeviceId board);                           // selected configuration, 0 if none

// --- what the host did ---
std::vector<TransferRecord> transferLog();  // oldest first; the last 100000 or more
Bytes lastRequest();                        // bytes of the last write to endpoint 0x01
std::vector<Bytes> requests();              // bytes of every write to endpoint 0x01 in the log
void clearLog();
int64_t scans();      // how many times the host scanned the buses (usb_find_devices)
int64_t transfers();  // bulk transfers so far, through either attachment
std::vector<std::string> violations();  // things a real board would not have accepted
void clearViolations();

// --- faults, counted from the moment they are set, 0 = the next one ---
void failTransfer(int nth, int error);        // nth bulk transfer returns error (-110 = timeout)
void shortReply(int nth, int length);         // nth reply the board makes is cut to length bytes
void wrongReplyCode(int nth, uint16_t code);  // word 0 of the nth reply is replaced
void unplugAtTransfer(int nth);      // the device of the nth bulk transfer is gone before it starts
void unplugDuringTransfer(int nth);  // ... is pulled out while the nth bulk transfer is in flight
// The board's nth reply (0 = its next) arrives delayUs after the host starts the read that
// collects it: a read whose time runs out first returns -110 and leaves it for the next read.
void delayReply(DeviceId board, int nth, int64_t delayUs);
void setCapacity(DeviceId board, uint16_t capacity);
void setFlashNeverReady(DeviceId board, bool neverReady);
void setReplyHook(ReplyHook hook);  // empty function removes it

// --- time ---
// The board's clock. Each bulk transfer advances it by 1000 us, a timeout by its length. Both
// functions are called with the simulator locked. Empty functions restore the steady clock.
void setClock(std::function<int64_t()> nowUs, std::function<void(int64_t)> advanceUs);
int64_t nowUs();

}  // namespace k350sim
