// The worker's face to the windows: its request events, the windows it addresses by their
// global references, and the notifications it sends them. Only the worker (TK350, its
// WindowNotifier and the notification channel) and the windows use it; the board operations
// and k350ctl speak in the terms of link/BoardTypes.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/BoardTypes.h"

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
constexpr int kWorkerRequestCount = int(WorkerRequest::PollTrace) + 1;

// The live setting a request sends; the Send requests only.
constexpr LiveSetting LiveSettingOf(WorkerRequest request) {
    switch (request) {
        case WorkerRequest::SendAmplifier:
            return LiveSetting::Amplifier;
        case WorkerRequest::SendVocoder:
            return LiveSetting::Vocoder;
        case WorkerRequest::SendRecorder:
            return LiveSetting::Recorder;
        default:
            return LiveSetting::Codec;
    }
}

// Payload bytes a settings window writes on notification 11 for its request.
constexpr std::size_t LivePayloadLength(WorkerRequest request) {
    switch (request) {
        case WorkerRequest::SendCodec:
        case WorkerRequest::SendAmplifier:
        case WorkerRequest::SendVocoder:
        case WorkerRequest::SendRecorder:
            return LivePayloadLength(LiveSettingOf(request));
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
