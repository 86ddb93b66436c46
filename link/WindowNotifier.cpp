#include "link/WindowNotifier.h"

#include "config/ConfigImage.h"

namespace {
// A notification's value that carries an address; it is valid only during the notification.
std::intptr_t addressValue(const void* address) {
    return reinterpret_cast<std::intptr_t>(address);
}

int startStatus(BoardTransfer kind) {
    switch (kind) {
        case BoardTransfer::ConfigRead:
            return LinkStatus::ReadStarted;
        case BoardTransfer::ConfigWrite:
            return LinkStatus::WriteStarted;
        case BoardTransfer::Firmware:
            return LinkStatus::FirmwareStarted;
        case BoardTransfer::BootFirmware:
            return LinkStatus::BootStarted;
    }
    return 0;
}

int finishStatus(BoardTransfer kind) {
    return startStatus(kind) + 1;
}
}  // namespace

WindowNotifier::WindowNotifier(NotificationChannel& channel, WindowId requester,
                               WindowGeneration generation, WindowId fillTarget,
                               const std::atomic<bool>& stop)
    : channel_(channel),
      requester_(requester),
      generation_(generation),
      fillTarget_(fillTarget),
      stop_(stop) {}

// The operation's own window is addressed by the generation that asked for it.
bool WindowNotifier::notify(WindowId to, std::uint32_t code, std::intptr_t value) {
    const WindowGeneration generation = to == requester_ ? generation_ : kAnyGeneration;
    return channel_.deliver(to, generation, WorkerNotification{code, value});
}

bool WindowNotifier::linkStatus(int status) {
    return notifyMain(NotifyCode::Status, status);
}

void WindowNotifier::notOpened(FailureReaction reaction) {
    react(reaction);
}

// The reaction only when the log took the error; the trace poll's waits for the link's close.
bool WindowNotifier::failed(const Failure& failure) {
    if (!notifyMain(NotifyCode::Error, failure.result)) return false;
    if (failure.reaction == FailureReaction::StopOnceClosed) {
        stopAfterClose_ = true;
    } else {
        react(failure.reaction);
    }
    return true;
}

void WindowNotifier::finish() {
    if (!stopAfterClose_) return;
    stopAfterClose_ = false;
    react(FailureReaction::Stop);
}

void WindowNotifier::react(FailureReaction reaction) {
    switch (reaction) {
        case FailureReaction::None:
            return;
        case FailureReaction::Abandon:
            channel_.requestClose(requester_, generation_);
            return;
        case FailureReaction::Stop:
        case FailureReaction::StopOnceClosed:
            notifyRequester(NotifyCode::Done, 0);
            return;
    }
}

bool WindowNotifier::started(BoardTransfer kind) {
    return notifyMain(NotifyCode::Status, startStatus(kind));
}

bool WindowNotifier::supply(TransferData& data) {
    return notify(fillTarget_, NotifyCode::FillData, addressValue(&data));
}

bool WindowNotifier::fill(std::span<std::uint8_t> bytes) {
    return notifyRequester(NotifyCode::FillData, addressValue(bytes.data()));
}

bool WindowNotifier::identified(const DeviceIds& ids) {
    return notifyRequester(NotifyCode::DieId, addressValue(ids.data())) &&
           notifyRequester(NotifyCode::ChipId, addressValue(ids.data() + kDieIdSize));
}

bool WindowNotifier::total(std::uint32_t bytes) {
    return notifyRequester(NotifyCode::Total, bytes);
}

bool WindowNotifier::progress(std::uint32_t bytesDone) {
    return notifyRequester(NotifyCode::Progress, bytesDone);
}

bool WindowNotifier::finished(BoardTransfer kind, std::uint32_t bytes) {
    const std::uint32_t moved =
        kind == BoardTransfer::ConfigRead ? NotifyCode::BytesReceived : NotifyCode::BytesSent;
    return notifyRequester(NotifyCode::Done, bytes) &&
           notifyMain(NotifyCode::Status, finishStatus(kind)) && notifyMain(moved, bytes);
}

bool WindowNotifier::configuration(const ConfigSnapshot& snapshot) {
    return notifyMain(NotifyCode::ConfigData, addressValue(snapshot.data()));
}

bool WindowNotifier::statistics(const LinkStatisticsReply& reply) {
    return notifyRequester(NotifyCode::Statistics, addressValue(&reply));
}

bool WindowNotifier::traceLines(const TraceLines& lines) {
    return notifyRequester(NotifyCode::TraceLines, addressValue(&lines));
}
