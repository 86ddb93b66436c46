#include "link/RecordingChannel.h"

void RecordingChannel::open(WindowId window, Receiver receiver) {
    std::lock_guard lock(mutex_);
    open_[window] = std::move(receiver);
}

void RecordingChannel::close(WindowId window) {
    std::lock_guard lock(mutex_);
    open_.erase(window);
}

bool RecordingChannel::isOpen(WindowId window) const {
    std::lock_guard lock(mutex_);
    return open_.count(window) != 0;
}

bool RecordingChannel::deliver(WindowId to, WorkerNotification notification) {
    Receiver receiver;
    {
        std::lock_guard lock(mutex_);
        auto found = open_.find(to);
        if (found == open_.end()) return false;
        events_.push_back({to, false, notification});
        receiver = found->second;
    }
    // Run outside the lock: a receiver may close windows, as a real one can.
    if (receiver) receiver(notification);
    return true;
}

bool RecordingChannel::requestClose(WindowId to) {
    std::lock_guard lock(mutex_);
    if (open_.erase(to) == 0) return false;
    events_.push_back({to, true, {}});
    return true;
}

std::vector<RecordingChannel::Event> RecordingChannel::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::uint32_t> RecordingChannel::codes(WindowId window) const {
    std::vector<std::uint32_t> result;
    for (const auto& [code, value] : received(window)) result.push_back(code);
    return result;
}

std::vector<std::pair<std::uint32_t, std::intptr_t>> RecordingChannel::received(
    WindowId window) const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::uint32_t, std::intptr_t>> result;
    for (const auto& event : events_) {
        if (event.to == window && !event.closeRequest) {
            result.emplace_back(event.notification.code, event.notification.value);
        }
    }
    return result;
}

bool RecordingChannel::closeRequested(WindowId window) const {
    std::lock_guard lock(mutex_);
    for (const auto& event : events_) {
        if (event.to == window && event.closeRequest) return true;
    }
    return false;
}

void RecordingChannel::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}
