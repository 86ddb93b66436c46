// The flash and EEPROM chips of the simulated board, with the timing of real parts.
#include <algorithm>
#include <cstdio>

#include "sim/SimBoard.h"

namespace k350sim {

namespace {

constexpr uint8_t kFlashProgram = 0x02;
constexpr uint8_t kFlashRead = 0x03;
constexpr uint8_t kFlashWriteDisable = 0x04;
constexpr uint8_t kFlashStatus = 0x05;
constexpr uint8_t kFlashWriteEnable = 0x06;
constexpr uint8_t kFlashSectorErase = 0xD8;
constexpr uint32_t kSectorSize = 0x8000;
constexpr uint32_t kPageSize = 256;

constexpr uint32_t kEepromPage = 64;
constexpr int64_t kEepromWriteCycleUs = 5'000;

std::string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

}  // namespace

SpiFlash::SpiFlash(uint32_t size, const BoardFigures& figures, uint64_t seed)
    : memory(std::max<uint32_t>(size, 128 * 1024), 0xFF), figures_(figures), random_(seed) {}

// The board's own busy time, varying a little from one erase or program to the next.
int64_t SpiFlash::busyFor(int64_t nominalUs) {
    if (figures_.busyVariation <= 0) return nominalUs;
    const double share = std::max(0.5, 1 + figures_.busyVariation * random_.normal());
    return int64_t(double(nominalUs) * share);
}

uint8_t SpiFlash::status(int64_t nowUs) const {
    const bool busy = neverReady || nowUs < busyUntilUs_;
    return (busy ? 0x01 : 0x00) | (writeEnabled_ ? 0x02 : 0x00);
}

uint32_t SpiFlash::addressOf(const Bytes& out) const {
    if (out.size() < 4) return 0;
    const uint32_t address = uint32_t(out[1]) << 16 | uint32_t(out[2]) << 8 | out[3];
    return address % memory.size();
}

Bytes SpiFlash::transfer(const Bytes& out, size_t readCount, BoardContext& context) {
    if (out.empty()) return Bytes(readCount, 0xFF);
    const uint8_t instruction = out[0];
    if (instruction == kFlashStatus) return Bytes(readCount, status(context.nowUs));
    if (status(context.nowUs) & 0x01) {
        context.violation("flash instruction " + hex(instruction) + " while the flash is busy");
        return Bytes(readCount, 0xFF);
    }
    switch (instruction) {
        case kFlashWriteEnable:
            writeEnabled_ = true;
            break;
        case kFlashWriteDisable:
            writeEnabled_ = false;
            break;
        case kFlashSectorErase:
            erase(out, context);
            break;
        case kFlashProgram:
            program(out, context);
            break;
        case kFlashRead:
            return readData(out, readCount);
        default:
            context.violation("unknown flash instruction " + hex(instruction));
    }
    return Bytes(readCount, 0xFF);
}

void SpiFlash::erase(const Bytes& out, BoardContext& context) {
    if (out.size() != 4)
        context.violation("flash sector erase with " + std::to_string(out.size()) + " bytes");
    if (!writeEnabled_) {
        context.violation("flash sector erase without write enable");
        return;
    }
    const uint32_t sector = addressOf(out) / kSectorSize * kSectorSize;
    std::fill_n(memory.begin() + sector, kSectorSize, 0xFF);
    eraseLog.push_back(sector);
    writeEnabled_ = false;
    busyUntilUs_ = context.nowUs + busyFor(figures_.eraseUs);
    context.stored = true;
}

void SpiFlash::program(const Bytes& out, BoardContext& context) {
    if (!writeEnabled_) {
        context.violation("flash page program without write enable");
        return;
    }
    const uint32_t address = addressOf(out);
    const uint32_t page = address / kPageSize * kPageSize;
    for (size_t i = 4; i < out.size(); ++i) {
        memory[page + (address + i - 4) % kPageSize] &= out[i];
    }
    writeEnabled_ = false;
    busyUntilUs_ = context.nowUs + busyFor(figures_.programUs);
    context.stored = true;
}

Bytes SpiFlash::readData(const Bytes& out, size_t readCount) const {
    Bytes data(readCount);
    const uint32_t address = addressOf(out);
    for (size_t i = 0; i < readCount; ++i) data[i] = memory[(address + i) % memory.size()];
    return data;
}

Bytes Eeprom::transfer(const Bytes& out, size_t readCount, BoardContext& context) {
    if (context.nowUs < busyUntilUs_) {
        context.violation("EEPROM accessed during its write cycle (no acknowledge)");
        return {};
    }
    if (out.size() == 1) {
        context.violation("EEPROM addressed with a single address byte");
        return {};
    }
    if (out.size() >= 2) pointer_ = uint16_t((out[0] << 8 | out[1]) % kEepromSize);
    if (out.size() > 2) {
        if (readCount > 0) context.violation("EEPROM write combined with a read");
        write(pointer_, out.data() + 2, out.size() - 2, context);
        return {};
    }
    return read(readCount);
}

void Eeprom::write(uint16_t address, const uint8_t* data, size_t count, BoardContext& context) {
    const uint32_t page = address / kEepromPage * kEepromPage;
    for (size_t i = 0; i < count; ++i) memory[page + (address + i) % kEepromPage] = data[i];
    pointer_ = uint16_t(page + (address + count) % kEepromPage);
    busyUntilUs_ = context.nowUs + kEepromWriteCycleUs;
    context.stored = true;
}

Bytes Eeprom::read(size_t count) {
    Bytes data(count);
    for (auto& byte : data) {
        byte = memory[pointer_];
        pointer_ = uint16_t((pointer_ + 1) % kEepromSize);
    }
    return data;
}

}  // namespace k350sim
