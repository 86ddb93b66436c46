// Vocabulary of the board operations: what the link reports, what the board answers, and how
// data to send is handed over. Names no window; both faces use it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the link reports while it opens the board, and the start and end of each transfer.
namespace LinkStatus {
constexpr int NoConfiguration = 1;
constexpr int NoInterface = 2;
constexpr int NoBoard = 3;
constexpr int ReadStarted = 4;
constexpr int ReadFinished = 5;
constexpr int WriteStarted = 6;
constexpr int WriteFinished = 7;
constexpr int FirmwareStarted = 8;
constexpr int FirmwareFinished = 9;
constexpr int BootStarted = 10;
constexpr int BootFinished = 11;
// Sent after NoBoard when a board was there but its node refused us (no udev rule).
constexpr int AccessRefused = 12;
}  // namespace LinkStatus

// Failures besides libusb's own negative results.
namespace LinkError {
constexpr int InvalidReply = -1;    // invalid buffer size or identification reply
constexpr int WrongReplyCode = -2;  // reply that does not repeat its command code
constexpr int Timeout = -110;       // what libusb reports for a timeout
}  // namespace LinkError

// Die ID (8 bytes) followed by chip ID (8 bytes), as the board sends them.
using DeviceIds = std::array<std::uint8_t, 16>;
constexpr std::size_t kDieIdSize = 8;

// The bytes an operation is to send, handed over when it asks for them. `owner` keeps them
// alive and unchanged for the whole operation, even if whoever handed them over goes away.
struct TransferData {
    std::uint32_t count = 0;
    const std::uint8_t* data = nullptr;
    std::shared_ptr<const std::vector<std::uint8_t>> owner;

    // The one way to fill it: all of `bytes`, which it then keeps alive.
    void hold(std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
        count = bytes ? std::uint32_t(bytes->size()) : 0;
        data = bytes ? bytes->data() : nullptr;
        owner = std::move(bytes);
    }
    // How many of the bytes may be read: at most `limit`, never past `owner`.
    std::uint32_t usableCount(std::uint32_t limit) const {
        if (!data) return 0;
        const std::uint32_t wanted = std::min(count, limit);
        if (!owner) return wanted;
        const std::uint8_t* begin = owner->data();
        const std::uint8_t* end = begin + owner->size();
        if (data < begin || data > end) return 0;
        return std::uint32_t(std::min<std::size_t>(wanted, std::size_t(end - data)));
    }
};

// The statistics reply: the board's 68-byte big-endian record first, then how many of its bytes
// the reply carried. Bytes past that count are zero, never the bytes of an earlier reply.
struct LinkStatisticsReply {
    static constexpr std::size_t kRecordSize = 68;
    std::array<std::uint8_t, kRecordSize> record{};
    std::uint32_t received = 0;
};

// The four settings passed to the running board as they change, and the payload bytes of each.
enum class LiveSetting { Codec, Amplifier, Vocoder, Recorder };
constexpr std::size_t LivePayloadLength(LiveSetting setting) {
    switch (setting) {
        case LiveSetting::Codec:
            return 2;  // one 9-bit codec register write
        case LiveSetting::Amplifier:
            return 1;
        case LiveSetting::Vocoder:
            return 6;
        case LiveSetting::Recorder:
            return 8;
    }
    return 0;
}

// The lines one trace poll made, in order.
using TraceLines = std::vector<std::string>;
