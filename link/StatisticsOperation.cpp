#include "link/StatisticsOperation.h"

#include <algorithm>

#include "link/BoardLink.h"

namespace {
using Result = OperationResult<LinkStatisticsReply>;
constexpr std::uint16_t kStatisticsLength = LinkStatisticsReply::kRecordSize;
constexpr std::uint16_t kKeepCounters = 1;
constexpr std::uint16_t kResetCounters = 0;
constexpr int kWordLength = 2;

// Copies only what this reply carried: a short reply must not pass on the bytes an earlier
// reply left in the buffer.
LinkStatisticsReply replyOf(BoardLink& link, std::size_t replyLength) {
    LinkStatisticsReply reply;
    const std::size_t carried =
        replyLength > kPacketHeaderSize ? replyLength - kPacketHeaderSize : 0;
    const std::size_t count = std::min(carried, reply.record.size());
    std::copy_n(link.payload(), count, reply.record.begin());
    reply.received = std::uint32_t(count);
    return reply;
}
}  // namespace

Result RequestStatistics(BoardLink& link, OperationObserver& observer, StatisticsRequest request) {
    if (!link.openNormal(observer, FailureReaction::Abandon)) return Result::notOpened();
    // A board that cannot carry the record could never answer this request.
    if (link.capacity() < kStatisticsLength) {
        return Result::failedWith(
            link.fail(observer, {LinkError::InvalidReply, FailureReaction::Abandon}));
    }
    link.setWord(0, Command::Statistics);
    link.setWord(1, request == StatisticsRequest::Read ? kKeepCounters : kResetCounters);
    link.setWord(2, kStatisticsLength);
    int result = link.exchange(kPacketHeaderSize, K350Usb::PolledTimeoutMs);
    // A reply too short to carry word 0 would read back the request's own code.
    if (result >= 0 && (result < kWordLength || link.word(0) != Command::Statistics)) {
        result = LinkError::WrongReplyCode;
    }
    if (result < 0) return Result::failedWith(link.fail(observer, {result}));
    return Result::doneWith(replyOf(link, std::size_t(result)));
}
