#include "link/ConfigReadOperation.h"

#include <algorithm>
#include <cstring>

#include "link/BoardLink.h"
#include "link/Eeprom.h"

namespace {
using Result = OperationResult<ConfigSnapshot>;
constexpr std::uint32_t kReadRequestLength = kPacketHeaderSize + Eeprom::AddressLength;

Result failWith(BoardLink& link, OperationObserver& observer, int result) {
    return Result::failedWith(link.fail(observer, {result, FailureReaction::Abandon}));
}

// Done, or how the chunks ended it: a failed transfer or an observer that stopped it.
Result readChunks(BoardLink& link, OperationObserver& observer, ConfigSnapshot& snapshot,
                  std::uint32_t& bytesDone) {
    std::uint32_t chunk = std::min<std::uint32_t>(link.capacity(), kImageSize);
    std::uint32_t address = 0;
    while (bytesDone < kImageSize) {
        chunk = std::min<std::uint32_t>(chunk, kImageSize - bytesDone);
        Eeprom::SetRequest(link, std::uint16_t(chunk), Eeprom::AddressLength,
                           std::uint16_t(address));
        int result = link.exchange(kReadRequestLength, K350Usb::DefaultTimeoutMs);
        // A short reply must never pass stale buffer bytes off as the record.
        if (result >= 0 && std::uint32_t(result) < kPacketHeaderSize + chunk) {
            result = LinkError::InvalidReply;
        }
        if (result < 0) return failWith(link, observer, result);
        std::memcpy(snapshot.data() + bytesDone, link.payload(), chunk);
        bytesDone += chunk;
        address += chunk;
        if (address >= Eeprom::Limit) break;
        if (!observer.progress(bytesDone)) return Result::stopped();
    }
    return {};
}
}  // namespace

Result ReadConfiguration(BoardLink& link, OperationObserver& observer) {
    if (!link.openNormal(observer, FailureReaction::Abandon)) return Result::notOpened();
    // The read request (header and memory address) must fit the exchange buffer.
    if (link.bufferSize() < kReadRequestLength) {
        return failWith(link, observer, LinkError::InvalidReply);
    }
    ConfigSnapshot snapshot;
    if (!observer.started(BoardTransfer::ConfigRead)) return Result::stopped();
    if (!observer.identified(link.ids())) return Result::stopped();
    std::copy(link.ids().begin(), link.ids().end(), snapshot.bytes.begin() + ConfigOffset::DieId);
    if (!observer.total(kImageSize)) return Result::stopped();

    std::uint32_t bytesDone = 0;
    if (Result chunks = readChunks(link, observer, snapshot, bytesDone); !chunks.done()) {
        return chunks;
    }
    if (!observer.finished(BoardTransfer::ConfigRead, bytesDone)) return Result::stopped();
    return Result::doneWith(snapshot);
}
