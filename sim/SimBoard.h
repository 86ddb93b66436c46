// The inside of one simulated K-350 board: its command processor and the devices on its buses.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimControl.h"
#include "sim/SimSpread.h"

namespace k350sim {

// What a board needs from the world while it handles one request.
struct BoardContext {
    int64_t nowUs = 0;
    std::vector<std::string>* violations = nullptr;
    bool stored = false;  // EEPROM or flash contents changed

    void violation(const std::string& text) const { violations->push_back(text); }
};

// A NOR flash on the SPI bus: status, write enable, 32 KiB sector erase, page program.
class SpiFlash {
public:
    SpiFlash(uint32_t size, const BoardFigures& figures, uint64_t seed);
    // One chip-select cycle: the bytes sent, then readCount bytes clocked back.
    Bytes transfer(const Bytes& out, size_t readCount, BoardContext& context);
    void rebase() { busyUntilUs_ = 0; }

    Bytes memory;
    std::vector<uint32_t> eraseLog;
    bool neverReady = false;

private:
    uint8_t status(int64_t nowUs) const;
    uint32_t addressOf(const Bytes& out) const;
    void erase(const Bytes& out, BoardContext& context);
    void program(const Bytes& out, BoardContext& context);
    Bytes readData(const Bytes& out, size_t readCount) const;

    int64_t busyFor(int64_t nominalUs);

    int64_t busyUntilUs_ = 0;
    bool writeEnabled_ = false;
    BoardFigures figures_;
    SpreadRandom random_;
};

// A 16 KiB I2C EEPROM with 64-byte pages and a 5 ms write cycle.
class Eeprom {
public:
    Bytes transfer(const Bytes& out, size_t readCount, BoardContext& context);
    void rebase() { busyUntilUs_ = 0; }

    Bytes memory = Bytes(kEepromSize, 0xFF);

private:
    void write(uint16_t address, const uint8_t* data, size_t count, BoardContext& context);
    Bytes read(size_t count);

    uint16_t pointer_ = 0;
    int64_t busyUntilUs_ = 0;
};

// Counters that grow with the board's running time.
class Statistics {
public:
    explicit Statistics(const BoardFigures& figures) : figures_(figures) {}
    std::array<uint32_t, kStatisticsWords> at(int64_t nowUs) const;
    void reset(int64_t nowUs) { resetAtUs_ = nowUs; }

private:
    int64_t resetAtUs_ = 0;
    BoardFigures figures_;
};

// Records on the selected serial streams, made at pseudo-random moments.
class TraceSource {
public:
    void select(uint16_t mask, int64_t nowUs);
    std::optional<Bytes> pop(int64_t nowUs);
    void push(const Bytes& payload) { queue_.push_back(payload); }
    void rebase(int64_t nowUs);
    uint16_t mask() const { return mask_; }

private:
    void catchUp(int64_t nowUs);
    uint32_t random();
    int64_t nextGap();
    Bytes makeRecord(int stream);

    static constexpr int kStreams = 4;
    static constexpr size_t kQueueLimit = 256;  // the board's trace buffer; newer records are lost
    uint16_t mask_ = 0;
    std::array<int64_t, kStreams> nextUs_{};
    std::deque<Bytes> queue_;
    uint32_t seed_ = 0x350A1u;
};

struct Board {
    explicit Board(const BoardOptions& options);
    // Handles one request written to endpoint 0x01; returns the reply, or nothing.
    std::optional<Bytes> handle(const Bytes& request, BoardContext& context);

    BoardOptions options;
    Eeprom eeprom;
    SpiFlash flash;
    std::array<uint16_t, 128> codecRegisters{};
    std::vector<CodecWrite> codecWrites;
    Bytes amplifierBytes;
    Bytes recorder;
    Bytes vocoder;
    Statistics statistics;
    TraceSource trace;
    Bytes bootBytes;
};

}  // namespace k350sim
