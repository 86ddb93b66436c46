// The worker's observer of one board operation: each report becomes the notifications the
// windows are specified to receive, in their order, through the notification channel. A
// notification that is not delivered (the window is gone) stops the operation: the guard.
#pragma once

#include <atomic>

#include "link/LinkTypes.h"
#include "link/NotificationChannel.h"
#include "link/OperationObserver.h"

struct ConfigSnapshot;

class WindowNotifier : public OperationObserver {
public:
    // `requester` is the window that asked, addressed by its generation; `fillTarget` the one
    // that hands over the bytes to send (the main window for a configuration write).
    WindowNotifier(NotificationChannel& channel, WindowId requester, WindowGeneration generation,
                   WindowId fillTarget, const std::atomic<bool>& stop);

    bool linkStatus(int status) override;
    void notOpened(FailureReaction reaction) override;
    bool failed(const Failure& failure) override;
    bool started(BoardTransfer kind) override;
    bool supply(TransferData& data) override;
    bool fill(std::span<std::uint8_t> bytes) override;
    bool identified(const DeviceIds& ids) override;
    bool total(std::uint32_t bytes) override;
    bool progress(std::uint32_t bytesDone) override;
    bool finished(BoardTransfer kind, std::uint32_t bytes) override;
    bool cancelled() const override { return stop_.load(); }

    // What the operation produced, handed to the windows that take it over.
    bool configuration(const ConfigSnapshot& snapshot);
    bool statistics(const LinkStatisticsReply& reply);
    bool traceLines(const TraceLines& lines);
    // Sends what a failure left for after the link's close (the trace poll's stop).
    void finish();

private:
    bool notify(WindowId to, std::uint32_t code, std::intptr_t value);
    bool notifyMain(std::uint32_t code, std::intptr_t value) {
        return notify(WindowId::FDevice, code, value);
    }
    bool notifyRequester(std::uint32_t code, std::intptr_t value) {
        return notify(requester_, code, value);
    }
    void react(FailureReaction reaction);

    NotificationChannel& channel_;
    WindowId requester_;
    WindowGeneration generation_;
    WindowId fillTarget_;
    const std::atomic<bool>& stop_;
    bool stopAfterClose_ = false;
};
