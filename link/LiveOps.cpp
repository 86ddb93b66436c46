// Live settings: one setting from an editor window goes straight to the running board.
#include "link/K350Task.h"

namespace {
constexpr std::uint16_t kCodecSlave = 0x1A;
constexpr std::uint16_t kAmplifierSlave = 0x4B;
}  // namespace

void TK350::SendCodec() {
    sendLiveSetting({WindowId::FCodec, WorkerRequest::SendCodec, Command::I2c, kCodecSlave});
}

void TK350::SendAmplifier() {
    sendLiveSetting(
        {WindowId::FAudio, WorkerRequest::SendAmplifier, Command::I2c, kAmplifierSlave});
}

void TK350::SendVocoder() {
    sendLiveSetting({WindowId::FVocoder, WorkerRequest::SendVocoder, Command::Vocoder, 0});
}

void TK350::SendRecorder() {
    sendLiveSetting({WindowId::FRecoder, WorkerRequest::SendRecorder, Command::Recorder, 0});
}

void TK350::sendLiveSetting(const LiveSetting& setting) {
    if (!openLinkOr(FailureReaction::StopWindow, setting.window)) return;
    // The window writes its payload straight into the buffer: a board too
    // small to take it must not let that write run past the buffer's end.
    // Not reached today, since the size query refuses a capacity below the
    // 16-byte identification reply and no payload is longer.
    if (capacity() < setting.payloadLength()) {
        return fail(LinkError::InvalidReply, FailureReaction::StopWindow, setting.window);
    }
    if (!notify(setting.window, NotifyCode::FillData, reinterpret_cast<std::intptr_t>(payload()))) {
        return;  // the window is gone: nothing to send
    }
    fillLiveHeader(setting);
    int result = exchange(kPacketHeaderSize + setting.payloadLength(), K350Usb::DefaultTimeoutMs);
    if (result < 0) fail(result, FailureReaction::StopWindow, setting.window);
}

void TK350::fillLiveHeader(const LiveSetting& setting) {
    setWord(0, setting.command);
    if (setting.command != Command::I2c) return;
    setWord(1, 0);
    setWord(2, std::uint16_t(setting.payloadLength()));
    setWord(3, setting.slave);
}
