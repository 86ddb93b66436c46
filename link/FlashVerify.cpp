#include "link/FlashVerify.h"

#include <algorithm>

#include "link/BoardSession.h"
#include "link/SpiFlash.h"

namespace {
// The code a read-back that ended without a link failure is reported with.
int endingCode(Ending ending) {
    return ending == Ending::Stopped ? LinkError::Timeout : LinkError::InvalidReply;
}
}  // namespace

FlashComparison CompareFlash(BoardSession& session, const std::vector<std::uint8_t>& image) {
    FlashComparison comparison;
    const auto length =
        std::min<std::uint32_t>(std::uint32_t(image.size()), SpiFlash::ProgramLimit);
    const OperationResult<std::vector<std::uint8_t>> flash = session.readFlash(0, length);
    if (!flash.done()) {
        comparison.readFailure = FailureText(session.observer(), flash.ending);
        if (comparison.readFailure.empty()) {
            comparison.readFailure = LinkErrorText(
                flash.ending == Ending::Failed ? flash.failure.result : endingCode(flash.ending));
        }
        return comparison;
    }
    const auto mismatch = std::mismatch(flash.value.begin(), flash.value.end(), image.begin());
    if (mismatch.first != flash.value.end()) {
        const auto address = std::uint32_t(mismatch.first - flash.value.begin());
        comparison.firstDifference = address;
        comparison.imageByte = image[address];
        comparison.flashByte = flash.value[address];
    }
    return comparison;
}
