// The board's four traced streams. Channel i is bit i of the TraceChannelMask a selection sends
// and record type i of the TraceRecord a poll receives.
#pragma once

#include <cstdint>

enum class TraceChannel : std::uint16_t {
    BusReceive = 0,
    BusTransmit = 1,
    LinkReceive = 2,
    LinkTransmit = 3,
};
constexpr int kTraceChannelCount = 4;

constexpr std::uint16_t TraceMaskBit(TraceChannel channel) {
    return std::uint16_t(1u << unsigned(channel));
}

// The label a trace line carries for a record of the channel, as the terminal writes it.
constexpr const char* TraceLabel(TraceChannel channel) {
    switch (channel) {
        case TraceChannel::BusReceive:
            return "Bus+(RxD): ";
        case TraceChannel::BusTransmit:
            return "Bus+(TxD): ";
        case TraceChannel::LinkReceive:
            return "Link(RxD): ";
        case TraceChannel::LinkTransmit:
            return "Link(TxD): ";
    }
    return "";
}
