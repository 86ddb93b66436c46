#include "link/ConfigWriteOperation.h"

#include <algorithm>
#include <cstring>

#include "config/ConfigImage.h"
#include "link/BoardLink.h"
#include "config/Clock.h"
#include "link/Eeprom.h"

namespace {
using Result = OperationResult<std::uint32_t>;
constexpr std::uint32_t kLeastWriteCapacity = 3;  // what a write chunk leaves of the capacity
constexpr std::uint32_t kFullWriteCapacity = 67;

Result failWith(BoardLink& link, OperationObserver& observer, int result) {
    return Result::failedWith(link.fail(observer, {result, FailureReaction::Abandon}));
}

Result writeChunks(BoardLink& link, OperationObserver& observer, const TransferData& transfer,
                   std::uint32_t count, std::uint32_t& bytesDone) {
    const std::uint32_t largestChunk = link.capacity() >= kFullWriteCapacity
                                           ? Eeprom::PageSize
                                           : link.capacity() - kLeastWriteCapacity;
    std::uint32_t address = 0;
    while (bytesDone < count) {
        const std::uint32_t chunk = std::min(
            {largestChunk, Eeprom::PageSize - address % Eeprom::PageSize, count - bytesDone});
        Eeprom::SetRequest(link, 0, std::uint16_t(chunk + Eeprom::AddressLength),
                           std::uint16_t(address));
        std::memcpy(link.payload() + Eeprom::AddressLength, transfer.data + bytesDone, chunk);
        const int result = link.exchange(kPacketHeaderSize + Eeprom::AddressLength + chunk,
                                         K350Usb::DefaultTimeoutMs);
        if (result < 0) return failWith(link, observer, result);
        bytesDone += chunk;
        address += chunk;
        // The EEPROM's write cycle: it acknowledges nothing until it is over.
        link.clock().sleepMs((chunk + 1) * 10);
        if (address >= Eeprom::Limit) break;
        if (!observer.progress(bytesDone)) return Result::stopped();
    }
    return {};
}
}  // namespace

Result WriteConfiguration(BoardLink& link, OperationObserver& observer) {
    if (!link.openNormal(observer, FailureReaction::Abandon)) return Result::notOpened();
    // The largest chunk is the capacity less 3: nothing would be left to write. Not reached
    // today, since the size query refuses a capacity below the 16-byte identification reply;
    // kept so the chunk rule never goes negative.
    if (link.capacity() <= kLeastWriteCapacity) {
        return failWith(link, observer, LinkError::InvalidReply);
    }
    TransferData transfer;  // holds the bytes alive until the write ends
    if (!observer.started(BoardTransfer::ConfigWrite)) return Result::stopped();
    if (!observer.supply(transfer)) return Result::stopped();
    const std::uint32_t count = transfer.usableCount(kImageSize);
    if (!observer.identified(link.ids())) return Result::stopped();
    if (!observer.total(count)) return Result::stopped();

    std::uint32_t bytesDone = 0;
    if (Result chunks = writeChunks(link, observer, transfer, count, bytesDone); !chunks.done()) {
        return chunks;
    }
    if (!observer.finished(BoardTransfer::ConfigWrite, bytesDone)) return Result::stopped();
    return Result::doneWith(bytesDone);
}
