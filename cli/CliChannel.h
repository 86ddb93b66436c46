// k350ctl's notification channel for one board's worker: it plays every window the worker
// addresses, hands over the data the command supplies, and keeps what the board answered.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "config/ConfigImage.h"
#include "link/LinkTypes.h"
#include "link/NotificationChannel.h"

class CliChannel : public NotificationChannel {
public:
    // It plays one window of each class, whatever generation the worker names.
    using NotificationChannel::deliver;
    using NotificationChannel::requestClose;
    bool deliver(WindowId to, WindowGeneration, WorkerNotification notification) override;
    bool requestClose(WindowId to, WindowGeneration) override;

    // Bytes handed over on "fill in your data" (the record to write, the image to flash).
    std::shared_ptr<const std::vector<std::uint8_t>> transferBytes;
    // Asked before the bytes are handed over; false ends the operation with nothing sent.
    std::function<bool()> approveTransfer;
    std::uint16_t traceMask = 0;
    std::function<void(std::uint32_t done, std::uint32_t total)> onProgress;
    std::function<void(const std::vector<std::string>&)> onTraceLines;

    // What one operation left; cleared before each.
    struct Outcome {
        std::vector<int> statuses;   // notification 0 values to the main window
        std::vector<int> errors;     // notification 1 values
        bool windowClosed = false;   // a close request: the operation failed or found no board
        bool windowStopped = false;  // notification 5 with 0 to a settings or trace window
        std::optional<std::uint32_t> done;  // notification 5 to a progress window
        std::uint32_t total = 0;
        std::optional<ConfigSnapshot> snapshot;
        std::optional<LinkStatisticsReply> statistics;
        bool hasStatus(int status) const;
    };
    Outcome outcome;
    void clearOutcome() { outcome = Outcome{}; }

private:
    void fillTransfer(std::intptr_t value) const;
    void deliverToWindow(WindowId to, WorkerNotification notification);
};
