#include "tests/support/RecordingChannel.h"

WindowGeneration RecordingChannel::open(WindowId window, Receiver receiver) {
    std::lock_guard lock(mutex_);
    open_[window] = {++lastGeneration_, std::move(receiver)};
    return lastGeneration_;
}

bool RecordingChannel::isOpenAs(WindowId window, WindowGeneration generation) const {
    auto found = open_.find(window);
    if (found == open_.end()) return false;
    return generation == kAnyGeneration || generation == found->second.generation;
}

void RecordingChannel::close(WindowId window) {
    std::lock_guard lock(mutex_);
    open_.erase(window);
}

bool RecordingChannel::isOpen(WindowId window) const {
    std::lock_guard lock(mutex_);
    return open_.count(window) != 0;
}

bool RecordingChannel::deliver(WindowId to, WindowGeneration generation,
                               WorkerNotification notification) {
    Receiver receiver;
    {
        std::lock_guard lock(mutex_);
        if (!isOpenAs(to, generation)) return false;
        events_.push_back({to, false, notification});
        receiver = open_[to].receiver;
    }
    // Run outside the lock: a receiver may close windows, as a real one can.
    if (receiver) receiver(notification);
    return true;
}

bool RecordingChannel::requestClose(WindowId to, WindowGeneration generation) {
    std::lock_guard lock(mutex_);
    if (!isOpenAs(to, generation)) return false;
    open_.erase(to);
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
