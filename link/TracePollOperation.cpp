#include "link/TracePollOperation.h"

#include <cstdio>

#include "config/ByteOrder.h"
#include "link/BoardLink.h"
#include "config/Clock.h"
#include "link/TraceChannel.h"

namespace {
using Result = OperationResult<TraceLines>;
constexpr int kTraceTypeLength = 2;
constexpr int kWordLength = 2;
// A board that traces faster than it can be drained would keep one poll going forever; the
// rest of its queue waits for the next poll.
constexpr int kMaxTraceRepliesPerPoll = 1000;

// A record of another type gets a line without a label.
const char* traceLabel(std::uint16_t recordType) {
    return recordType < kTraceChannelCount ? TraceLabel(TraceChannel(recordType)) : "";
}

std::string linePrefix(Clock& clock, std::uint16_t recordType) {
    const TimeOfDay now = clock.timeOfDay();
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d ", now.hour, now.minute, now.second);
    return std::string(time) + traceLabel(recordType);
}

// The line of one record of `length` payload bytes; returns how many traced bytes it carried.
int appendLine(BoardLink& link, int length, TraceLines& lines) {
    const std::uint8_t* record = link.payload();
    const std::uint16_t recordType = ReadBigEndian(record);
    // A Bus+ transmit record carries one byte of its own before the traced bytes.
    const int first =
        kTraceTypeLength + (recordType == std::uint16_t(TraceChannel::BusTransmit) ? 1 : 0);
    std::string line = linePrefix(link.clock(), recordType);
    char hex[8];
    for (int i = first; i < length; ++i) {
        std::snprintf(hex, sizeof hex, "0x%02X; ", record[i]);
        line += hex;
    }
    lines.push_back(std::move(line));
    return length - first;
}
}  // namespace

// Asks again after every record that carried traced bytes.
Result PollTraceRecords(BoardLink& link, OperationObserver& observer) {
    if (!link.openNormal(observer, FailureReaction::Stop)) return Result::notOpened();
    TraceLines lines;
    for (int replies = 0; replies < kMaxTraceRepliesPerPoll; ++replies) {
        link.setWord(0, Command::TracePoll);
        int result = link.exchange(kPacketHeaderSize, K350Usb::PolledTimeoutMs);
        // A reply too short to carry word 0 would read back the request's own code.
        if (result >= 0 && (result < kWordLength || link.word(0) != Command::TracePoll)) {
            result = LinkError::WrongReplyCode;
        }
        if (result < 0) {
            return Result::failedWith(
                link.fail(observer, {result, FailureReaction::StopOnceClosed}));
        }
        int remaining = result - int(kPacketHeaderSize);
        if (remaining > kTraceTypeLength) remaining = appendLine(link, remaining, lines);
        if (remaining <= 0) break;
        // A long backlog must not hold up the worker's exit: the rest waits.
        if (observer.cancelled()) break;
    }
    return Result::doneWith(std::move(lines));
}
