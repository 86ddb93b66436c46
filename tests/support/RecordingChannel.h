// A notification channel for worker tests: it records every delivery and
// answers from scripted receivers, with no user-interface thread at all.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "link/NotificationChannel.h"

class RecordingChannel : public NotificationChannel {
public:
    using Receiver = std::function<void(WorkerNotification)>;
    struct Event {
        WindowId to;
        bool closeRequest;
        WorkerNotification notification;
    };

    // The window exists from now on; its receiver (if any) handles deliveries.
    // Returns the window's generation: each opening makes a new one.
    WindowGeneration open(WindowId window, Receiver receiver = {});
    // The window is gone: further deliveries to it are not delivered.
    void close(WindowId window);
    bool isOpen(WindowId window) const;

    using NotificationChannel::deliver;
    using NotificationChannel::requestClose;
    bool deliver(WindowId to, WindowGeneration generation,
                 WorkerNotification notification) override;
    // Records it and closes the window.
    bool requestClose(WindowId to, WindowGeneration generation) override;

    std::vector<Event> events() const;
    // Codes, or (code, value) pairs, delivered to one window, in order.
    std::vector<std::uint32_t> codes(WindowId window) const;
    std::vector<std::pair<std::uint32_t, std::intptr_t>> received(WindowId window) const;
    bool closeRequested(WindowId window) const;
    void clear();

private:
    mutable std::mutex mutex_;
    struct OpenWindow {
        WindowGeneration generation;
        Receiver receiver;
    };
    bool isOpenAs(WindowId window, WindowGeneration generation) const;
    std::map<WindowId, OpenWindow> open_;
    WindowGeneration lastGeneration_ = kAnyGeneration;
    std::vector<Event> events_;
};
