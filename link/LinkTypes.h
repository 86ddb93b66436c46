// Vocabulary shared by the worker, its notification channel and the windows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The worker's eleven request events, by index; lower indexes run first.
enum class WorkerRequest : int {
    ReadConfig = 0,
    WriteConfig = 1,
    LoadFirmware = 2,
    ReadStatistics = 3,
    ResetStatistics = 4,
    SendCodec = 5,
    SendAmplifier = 6,
    SendVocoder = 7,
    SendRecorder = 8,
    SetTrace = 9,
    PollTrace = 10,
};
constexpr int kWorkerRequestCount = 11;

// Payload bytes of a live setting: what its window writes on notification 11
// and what the worker then sends. Zero for a request that carries none.
constexpr std::size_t LivePayloadLength(WorkerRequest request) {
    switch (request) {
        case WorkerRequest::SendCodec:
            return 2;  // one 9-bit codec register write
        case WorkerRequest::SendAmplifier:
            return 1;
        case WorkerRequest::SendVocoder:
            return 6;
        case WorkerRequest::SendRecorder:
            return 8;
        default:
            return 0;
    }
}

// The windows the worker may address, named after their global references.
enum class WindowId : int {
    FDevice,
    FRead,
    FSave,
    FFlash,
    FReport,
    FCodec,
    FAudio,
    FRecoder,
    FVocoder,
    FBoard,
    FTrace,
    FInfo,
    FUart,
};
constexpr int kWindowIdCount = 13;

// Tells one window of a class from a later one in the same global reference:
// every window that takes a reference gets a new number. An operation talks
// only to the generation that asked for it.
using WindowGeneration = std::uint32_t;
constexpr WindowGeneration kAnyGeneration = 0;  // whichever window holds the reference

// The window that signals a request and receives its operation's notifications.
constexpr WindowId RequesterOf(WorkerRequest request) {
    switch (request) {
        case WorkerRequest::ReadConfig:
            return WindowId::FRead;
        case WorkerRequest::WriteConfig:
            return WindowId::FSave;
        case WorkerRequest::LoadFirmware:
            return WindowId::FFlash;
        case WorkerRequest::ReadStatistics:
        case WorkerRequest::ResetStatistics:
            return WindowId::FReport;
        case WorkerRequest::SendCodec:
            return WindowId::FCodec;
        case WorkerRequest::SendAmplifier:
            return WindowId::FAudio;
        case WorkerRequest::SendVocoder:
            return WindowId::FVocoder;
        case WorkerRequest::SendRecorder:
            return WindowId::FRecoder;
        case WorkerRequest::SetTrace:
        case WorkerRequest::PollTrace:
            return WindowId::FTrace;
    }
    return WindowId::FDevice;
}

// A message from the worker to one window. The value is a number or an
// address; an address is valid only while the notification is handled.
struct WorkerNotification {
    std::uint32_t code = 0;
    std::intptr_t value = 0;
};

namespace NotifyCode {
constexpr std::uint32_t Status = 0;
constexpr std::uint32_t Error = 1;
constexpr std::uint32_t BytesReceived = 2;
constexpr std::uint32_t BytesSent = 3;
constexpr std::uint32_t Total = 4;
constexpr std::uint32_t Done = 5;
constexpr std::uint32_t DieId = 6;
constexpr std::uint32_t ChipId = 7;
constexpr std::uint32_t Statistics = 8;
constexpr std::uint32_t Progress = 9;
constexpr std::uint32_t ConfigData = 10;
constexpr std::uint32_t FillData = 11;
constexpr std::uint32_t TraceLines = 13;
}  // namespace NotifyCode

// Values of NotifyCode::Status.
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

// Values of NotifyCode::Error besides libusb's own negative results.
namespace LinkError {
constexpr int InvalidReply = -1;    // invalid buffer size or identification reply
constexpr int WrongReplyCode = -2;  // reply that does not repeat its command code
constexpr int Timeout = -110;       // what libusb reports for a timeout
}  // namespace LinkError

// Die ID (8 bytes) followed by chip ID (8 bytes), as the board sends them.
using DeviceIds = std::array<std::uint8_t, 16>;

// Filled by a window on NotifyCode::FillData to hand the worker the bytes it is
// to send. `owner` keeps those bytes alive and unchanged for the whole
// operation, even if the window closes or its data changes meanwhile.
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
};

// What NotifyCode::Statistics points at: the board's 68-byte big-endian
// statistics record first, so the address is the record's own, then how many
// of its bytes the reply carried. Bytes past that count are zero, never the
// bytes of an earlier reply.
struct LinkStatisticsReply {
    static constexpr std::size_t kRecordSize = 68;
    std::array<std::uint8_t, kRecordSize> record{};
    std::uint32_t received = 0;
};

// The trace selection's NotifyCode::FillData points at a header word of the
// request, which takes the channel mask little-endian like every header word.
inline void WriteTraceMask(std::intptr_t wordAddress, std::uint16_t mask) {
    auto* word = reinterpret_cast<std::uint8_t*>(wordAddress);
    word[0] = std::uint8_t(mask & 0xFF);
    word[1] = std::uint8_t(mask >> 8);
}

// Trace line list handed over with NotifyCode::TraceLines.
using TraceLines = std::vector<std::string>;
