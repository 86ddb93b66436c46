#include "link/TraceSelectOperation.h"

#include "link/BoardLink.h"

namespace {
constexpr std::size_t kMaskOffset = 2;  // header word 1
constexpr std::size_t kMaskLength = 2;
}  // namespace

OperationResult<> SelectTrace(BoardLink& link, OperationObserver& observer) {
    if (!link.openNormal(observer, FailureReaction::Stop)) return OperationResult<>::notOpened();
    link.setWord(0, Command::TraceSelect);
    if (!observer.fill(link.buffer().subspan(kMaskOffset, kMaskLength))) {
        return OperationResult<>::stopped();
    }
    const int result = link.exchange(kPacketHeaderSize, K350Usb::DefaultTimeoutMs);
    if (result < 0) {
        return OperationResult<>::failedWith(link.fail(observer, {result, FailureReaction::Stop}));
    }
    return {};
}
