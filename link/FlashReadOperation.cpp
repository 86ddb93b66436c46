#include "link/FlashReadOperation.h"

#include <algorithm>
#include <cstring>

#include "link/BoardLink.h"
#include "link/SpiFlash.h"

namespace {
using Result = OperationResult<std::vector<std::uint8_t>>;
constexpr std::size_t kReadRequestLength = kPacketHeaderSize + SpiFlash::AddressedOverhead;
}  // namespace

Result ReadFlashBack(BoardLink& link, OperationObserver& observer, std::uint32_t address,
                     std::uint32_t count) {
    if (!link.openNormal(observer)) return Result::notOpened();
    // The last program cycle may still run.
    if (OperationResult<> ready = SpiFlash::WaitUntilReady(link, observer); !ready.done()) {
        return {ready.ending, {}, ready.failure};
    }
    std::vector<std::uint8_t> flash(count);
    std::uint32_t done = 0;
    while (done < count) {
        const std::uint32_t chunk =
            std::min<std::uint32_t>({link.capacity(), count - done, 0xFFFF});
        SpiFlash::SetRequest(link, std::uint16_t(chunk), SpiFlash::AddressedOverhead,
                             SpiFlash::ReadData);
        SpiFlash::SetAddress(link, address + done);
        int result = link.exchange(kReadRequestLength, K350Usb::DefaultTimeoutMs);
        if (result >= 0 && std::uint32_t(result) < kPacketHeaderSize + chunk) {
            result = LinkError::InvalidReply;
        }
        if (result < 0) return Result::failedWith(link.fail(observer, {result}));
        std::memcpy(flash.data() + done, link.payload(), chunk);
        done += chunk;
    }
    return Result::doneWith(std::move(flash));
}
