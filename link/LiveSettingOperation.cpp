#include "link/LiveSettingOperation.h"

#include "link/BoardLink.h"

namespace {
using Result = OperationResult<>;
constexpr std::uint16_t kCodecSlave = 0x1A;
constexpr std::uint16_t kAmplifierSlave = 0x4B;

// An I2C write fills words 1 to 3 (read count 0, write count, slave); a device command writes
// only word 0 and leaves the others as the previous reply left them.
void fillHeader(BoardLink& link, LiveSetting setting) {
    switch (setting) {
        case LiveSetting::Vocoder:
            link.setWord(0, Command::Vocoder);
            return;
        case LiveSetting::Recorder:
            link.setWord(0, Command::Recorder);
            return;
        case LiveSetting::Codec:
        case LiveSetting::Amplifier:
            link.setHeader(Command::I2c, 0, std::uint16_t(LivePayloadLength(setting)),
                           setting == LiveSetting::Codec ? kCodecSlave : kAmplifierSlave);
            return;
    }
}
}  // namespace

Result SendLiveSetting(BoardLink& link, OperationObserver& observer, LiveSetting setting) {
    if (!link.openNormal(observer, FailureReaction::Stop)) return Result::notOpened();
    const std::size_t length = LivePayloadLength(setting);
    // The payload is written straight into the buffer: a board too small to take it must not
    // let that write run past the buffer's end. Not reached today, since the size query
    // refuses a capacity below the 16-byte identification reply and no payload is longer.
    if (link.capacity() < length) {
        return Result::failedWith(
            link.fail(observer, {LinkError::InvalidReply, FailureReaction::Stop}));
    }
    // Gone before it handed its payload over: nothing to send.
    if (!observer.fill({link.payload(), length})) return Result::stopped();
    fillHeader(link, setting);
    const int result = link.exchange(kPacketHeaderSize + length, K350Usb::DefaultTimeoutMs);
    if (result < 0) return Result::failedWith(link.fail(observer, {result, FailureReaction::Stop}));
    return {};
}
