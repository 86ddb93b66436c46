// ReadConfig and WriteConfig: the 140-byte record in the EEPROM at I2C 0x50,
// moved in chunks that never cross one of its 64-byte pages on write.
#include <algorithm>
#include <cstring>

#include "config/ConfigImage.h"
#include "link/K350Task.h"

namespace {
constexpr std::uint16_t kEepromSlave = 0x50;
constexpr std::uint32_t kEepromPage = 64;
constexpr std::uint32_t kEepromLimit = 0x4000;  // neither operation goes on at or beyond it
constexpr std::uint32_t kReadRequestLength = kPacketHeaderSize + 2;
constexpr std::uint32_t kLeastWriteCapacity = 3;  // what a write chunk leaves of the capacity
constexpr std::uint32_t kFullWriteCapacity = 67;

std::intptr_t addressValue(const void* address) {
    return reinterpret_cast<std::intptr_t>(address);
}
}  // namespace

// After a failed transfer the board's state is unknown: the link is closed
// even when the windows are gone and hear nothing of it.
std::uint32_t TK350::usableCount(const TransferData& transfer, std::uint32_t limit) {
    if (!transfer.data) return 0;
    std::uint32_t count = std::min(transfer.count, limit);
    if (!transfer.owner) return count;
    const std::uint8_t* begin = transfer.owner->data();
    const std::uint8_t* end = begin + transfer.owner->size();
    if (transfer.data < begin || transfer.data > end) return 0;
    return std::uint32_t(std::min<std::size_t>(count, std::size_t(end - transfer.data)));
}

void TK350::setEepromRequest(std::uint16_t readCount, std::uint16_t writeCount,
                             std::uint16_t address) {
    setWord(0, Command::I2c);
    setWord(1, readCount);
    setWord(2, writeCount);
    setWord(3, kEepromSlave);
    payload()[0] = std::uint8_t(address >> 8);
    payload()[1] = std::uint8_t(address & 0xFF);
}

void TK350::ReadConfig() {
    if (!openLinkOr(FailureReaction::CloseWindow, WindowId::FRead)) return;
    // The read request (header and memory address) must fit the exchange buffer.
    if (bufferSize() < kReadRequestLength)
        return fail(LinkError::InvalidReply, FailureReaction::CloseWindow, WindowId::FRead);

    ConfigSnapshot snapshot;
    if (!notifyMain(NotifyCode::Status, LinkStatus::ReadStarted)) return;
    if (!notify(WindowId::FRead, NotifyCode::DieId, addressValue(ids_.data()))) return;
    if (!notify(WindowId::FRead, NotifyCode::ChipId, addressValue(ids_.data() + 8))) return;
    std::copy(ids_.begin(), ids_.end(), snapshot.bytes.begin() + ConfigOffset::DieId);
    if (!notify(WindowId::FRead, NotifyCode::Total, kImageSize)) return;

    std::uint32_t bytesDone = 0;
    if (!readConfigChunks(snapshot.data(), bytesDone)) return;

    if (!notify(WindowId::FRead, NotifyCode::Done, bytesDone)) return;
    if (!notifyMain(NotifyCode::Status, LinkStatus::ReadFinished)) return;
    if (!notifyMain(NotifyCode::BytesReceived, bytesDone)) return;
    notifyMain(NotifyCode::ConfigData, addressValue(snapshot.data()));
}

// False when the operation has ended: a failed transfer or a closed window.
bool TK350::readConfigChunks(std::uint8_t* image, std::uint32_t& bytesDone) {
    std::uint32_t chunk = std::min<std::uint32_t>(capacity(), kImageSize);
    std::uint32_t address = 0;
    while (bytesDone < kImageSize) {
        chunk = std::min<std::uint32_t>(chunk, kImageSize - bytesDone);
        setEepromRequest(std::uint16_t(chunk), 2, std::uint16_t(address));
        int result = exchange(kReadRequestLength, K350Usb::DefaultTimeoutMs);
        // A short reply must never pass stale buffer bytes off as the record.
        if (result >= 0 && std::uint32_t(result) < kPacketHeaderSize + chunk) {
            result = LinkError::InvalidReply;
        }
        if (result < 0) {
            fail(result, FailureReaction::CloseWindow, WindowId::FRead);
            return false;
        }
        std::memcpy(image + bytesDone, payload(), chunk);
        bytesDone += chunk;
        address += chunk;
        if (address >= kEepromLimit) break;
        if (!notify(WindowId::FRead, NotifyCode::Progress, bytesDone)) return false;
    }
    return true;
}

void TK350::WriteConfig() {
    if (!openLinkOr(FailureReaction::CloseWindow, WindowId::FSave)) return;
    // The largest chunk is the capacity less 3: nothing would be left to write.
    // Not reached today, since the size query refuses a capacity below the
    // 16-byte identification reply; kept so the chunk rule never goes negative.
    if (capacity() <= kLeastWriteCapacity) {
        return fail(LinkError::InvalidReply, FailureReaction::CloseWindow, WindowId::FSave);
    }

    TransferData transfer;  // holds the main window's bytes alive until the write ends
    if (!notifyMain(NotifyCode::Status, LinkStatus::WriteStarted)) return;
    if (!notifyMain(NotifyCode::FillData, addressValue(&transfer))) return;
    const std::uint32_t count = usableCount(transfer, kImageSize);
    if (!notify(WindowId::FSave, NotifyCode::DieId, addressValue(ids_.data()))) return;
    if (!notify(WindowId::FSave, NotifyCode::ChipId, addressValue(ids_.data() + 8))) return;
    if (!notify(WindowId::FSave, NotifyCode::Total, count)) return;

    std::uint32_t bytesDone = 0;
    if (!writeConfigChunks(transfer, count, bytesDone)) return;

    if (!notify(WindowId::FSave, NotifyCode::Done, bytesDone)) return;
    if (!notifyMain(NotifyCode::Status, LinkStatus::WriteFinished)) return;
    notifyMain(NotifyCode::BytesSent, bytesDone);
}

// False when the operation has ended: a failed transfer or a closed window.
bool TK350::writeConfigChunks(const TransferData& transfer, std::uint32_t count,
                              std::uint32_t& bytesDone) {
    const std::uint32_t largestChunk =
        capacity() >= kFullWriteCapacity ? kEepromPage : capacity() - kLeastWriteCapacity;
    std::uint32_t address = 0;
    while (bytesDone < count) {
        const std::uint32_t chunk =
            std::min({largestChunk, kEepromPage - address % kEepromPage, count - bytesDone});
        setEepromRequest(0, std::uint16_t(chunk + 2), std::uint16_t(address));
        std::memcpy(payload() + 2, transfer.data + bytesDone, chunk);
        int result = exchange(kPacketHeaderSize + 2 + chunk, K350Usb::DefaultTimeoutMs);
        if (result < 0) {
            fail(result, FailureReaction::CloseWindow, WindowId::FSave);
            return false;
        }
        bytesDone += chunk;
        address += chunk;
        // The EEPROM's write cycle: it acknowledges nothing until it is over.
        clock_.sleepMs((chunk + 1) * 10);
        if (address >= kEepromLimit) break;
        if (!notify(WindowId::FSave, NotifyCode::Progress, bytesDone)) return false;
    }
    return true;
}
