// Monitoring: the board's link statistics and the trace of its serial lines.
#include <algorithm>
#include <cstdio>

#include "link/K350Task.h"

namespace {
constexpr std::uint16_t kStatisticsLength = LinkStatisticsReply::kRecordSize;
constexpr std::uint16_t kKeepCounters = 1;
constexpr std::uint16_t kResetCounters = 0;
constexpr std::uint16_t kBusTransmit = 1;
constexpr int kTraceTypeLength = 2;
constexpr int kWordLength = 2;
// A board that traces faster than it can be drained would keep one poll going
// forever; the rest of its queue waits for the next poll.
constexpr int kMaxTraceRepliesPerPoll = 1000;

const char* traceLabel(std::uint16_t recordType) {
    switch (recordType) {
        case 0:
            return "Bus+(RxD): ";
        case 1:
            return "Bus+(TxD): ";
        case 2:
            return "Link(RxD): ";
        case 3:
            return "Link(TxD): ";
        default:
            return "";
    }
}
}  // namespace

void TK350::ReadStatistics() {
    requestStatistics(kKeepCounters);
}

void TK350::ResetStatistics() {
    requestStatistics(kResetCounters);
}

void TK350::requestStatistics(std::uint16_t keepCounters) {
    if (!openLinkOr(FailureReaction::CloseWindow, WindowId::FReport)) return;
    // A board that cannot carry the record could never answer this request.
    if (capacity() < kStatisticsLength) {
        return fail(LinkError::InvalidReply, FailureReaction::CloseWindow, WindowId::FReport);
    }
    setWord(0, Command::Statistics);
    setWord(1, keepCounters);
    setWord(2, kStatisticsLength);
    int result = exchange(kPacketHeaderSize, K350Usb::PolledTimeoutMs);
    if (result < 0) return fail(result);
    // A reply too short to carry word 0 would read back the request's own code.
    if (result < kWordLength || word(0) != Command::Statistics) {
        return fail(LinkError::WrongReplyCode);
    }
    notify(WindowId::FReport, NotifyCode::Statistics,
           reinterpret_cast<std::intptr_t>(&takeStatistics(std::size_t(result))));
}

// Copies only what this reply carried: a short reply must not pass on the
// bytes an earlier reply left in the buffer.
const LinkStatisticsReply& TK350::takeStatistics(std::size_t replyLength) {
    statistics_ = LinkStatisticsReply{};
    const std::size_t carried =
        replyLength > kPacketHeaderSize ? replyLength - kPacketHeaderSize : 0;
    const std::size_t count = std::min(carried, statistics_.record.size());
    std::copy_n(payload(), count, statistics_.record.begin());
    statistics_.received = std::uint32_t(count);
    return statistics_;
}

void TK350::SetTrace() {
    if (!openLinkOr(FailureReaction::StopWindow, WindowId::FTrace)) return;
    setWord(0, Command::TraceSelect);
    std::uint8_t* mask = buffer_.data() + 2;
    if (!notify(WindowId::FTrace, NotifyCode::FillData, reinterpret_cast<std::intptr_t>(mask))) {
        return;
    }
    int result = exchange(kPacketHeaderSize, K350Usb::DefaultTimeoutMs);
    if (result < 0) fail(result, FailureReaction::StopWindow, WindowId::FTrace);
}

// Drains the board's trace queue: asks again after every record that carried
// traced bytes, and hands the lines over in one notification.
void TK350::PollTrace() {
    traceLines_.clear();
    if (!openLinkOr(FailureReaction::StopWindow, WindowId::FTrace)) return;
    int failure = 0;
    for (int replies = 0; replies < kMaxTraceRepliesPerPoll; ++replies) {
        setWord(0, Command::TracePoll);
        int result = exchange(kPacketHeaderSize, K350Usb::PolledTimeoutMs);
        // A reply too short to carry word 0 would read back the request's own code.
        failure = result < 0 ? result
                  : result < kWordLength || word(0) != Command::TracePoll
                      ? LinkError::WrongReplyCode
                      : 0;
        if (failure != 0) break;
        int remaining = result - int(kPacketHeaderSize);
        if (remaining > kTraceTypeLength) remaining = appendTraceLine(remaining);
        if (remaining <= 0) break;
        // A long backlog must not hold up the exit sequence: the rest waits.
        if (stopRequested()) break;
    }
    if (failure != 0) {
        traceLines_.clear();  // the lines of a failed poll are dropped, not delivered
        return fail(failure, FailureReaction::StopWindowOnceClosed, WindowId::FTrace);
    }
    if (!traceLines_.empty()) {
        notify(WindowId::FTrace, NotifyCode::TraceLines,
               reinterpret_cast<std::intptr_t>(&traceLines_));
    }
    traceLines_.clear();
}

int TK350::appendTraceLine(int length) {
    const std::uint8_t* record = payload();
    std::uint16_t recordType = std::uint16_t(record[0] << 8 | record[1]);
    // A Bus+ transmit record carries one byte of its own before the traced bytes.
    int first = kTraceTypeLength + (recordType == kBusTransmit ? 1 : 0);
    std::string line = traceLinePrefix(recordType);
    char hex[8];
    for (int i = first; i < length; ++i) {
        std::snprintf(hex, sizeof hex, "0x%02X; ", record[i]);
        line += hex;
    }
    traceLines_.push_back(std::move(line));
    return length - first;
}

std::string TK350::traceLinePrefix(std::uint16_t recordType) {
    TimeOfDay now = clock_.timeOfDay();
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d ", now.hour, now.minute, now.second);
    return std::string(time) + traceLabel(recordType);
}
