#include "link/SpiFlash.h"

#include "link/BoardLink.h"
#include "config/Clock.h"

namespace {
constexpr std::int64_t kReadyLimitUs = 10'000'000;
constexpr std::size_t kStatusRequestLength = kPacketHeaderSize + 1;
constexpr std::size_t kStatusReplyLength = kPacketHeaderSize + 1;
}  // namespace

namespace SpiFlash {

void SetRequest(BoardLink& link, std::uint16_t readCount, std::uint16_t writeCount,
                std::uint8_t instruction) {
    link.setHeader(Command::SpiFlash, readCount, writeCount, ChipSelect);
    link.payload()[0] = instruction;
}

void SetAddress(BoardLink& link, std::uint32_t address) {
    link.payload()[1] = std::uint8_t(address >> 16);
    link.payload()[2] = std::uint8_t(address >> 8);
    link.payload()[3] = std::uint8_t(address);
}

OperationResult<> WaitUntilReady(BoardLink& link, OperationObserver& observer) {
    const std::int64_t startUs = link.clock().nowUs();
    for (;;) {
        SetRequest(link, 1, 1, StatusRead);
        int result = link.exchange(kStatusRequestLength, K350Usb::DefaultTimeoutMs);
        // Without its status byte the reply would show the request's own byte.
        if (result >= 0 && std::size_t(result) < kStatusReplyLength) {
            result = LinkError::InvalidReply;
        }
        if (result < 0) {
            return OperationResult<>::failedWith(
                link.fail(observer, {result, FailureReaction::Abandon}));
        }
        if ((link.payload()[0] & BusyBit) == 0) return {};
        // A flash that stays busy must not hold up the worker's exit.
        if (observer.cancelled()) return OperationResult<>::stopped();
        if (link.clock().nowUs() - startUs > kReadyLimitUs) {
            return OperationResult<>::failedWith(
                link.fail(observer, {LinkError::Timeout, FailureReaction::Abandon}));
        }
    }
}

}  // namespace SpiFlash
