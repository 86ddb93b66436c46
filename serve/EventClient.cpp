#include "serve/EventClient.h"

#include <cstring>

bool EventClient::send(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (dropped_ || closed_) return !dropped_;
    if (waiting_.size() - sent_ + text.size() > limitBytes_) {
        dropLocked();
        return false;
    }
    if (sent_ > 0 && sent_ == waiting_.size()) {
        waiting_.clear();
        sent_ = 0;
    }
    waiting_ += text;
    // Woken under the lock: the connection cannot go idle between this and its wake.
    if (idle_ && wake_) wake_();
    idle_ = false;
    return true;
}

long EventClient::take(char* buffer, std::size_t max, const std::function<void()>& idle) {
    std::lock_guard lock(mutex_);
    if (dropped_ || closed_) return kDropped;
    const std::size_t left = waiting_.size() - sent_;
    if (left == 0 && finished_) return kEnded;
    if (left == 0) {
        idle_ = true;
        idle();
        return 0;
    }
    const std::size_t count = std::min(left, max);
    std::memcpy(buffer, waiting_.data() + sent_, count);
    sent_ += count;
    if (sent_ > limitBytes_) {  // keep the buffer from growing with what was sent
        waiting_.erase(0, sent_);
        sent_ = 0;
    }
    return long(count);
}

void EventClient::dropLocked() {
    dropped_ = true;
    waiting_.clear();
    sent_ = 0;
    if (cut_) cut_();
    // An idle connection is woken to end.
    if (idle_ && wake_) wake_();
    idle_ = false;
}

void EventClient::finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    if (idle_ && wake_) wake_();
    idle_ = false;
}

void EventClient::drop() {
    std::lock_guard lock(mutex_);
    if (!closed_) dropLocked();
}

void EventClient::attach(std::function<void()> wake, std::function<void()> cut) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
    cut_ = std::move(cut);
}

void EventClient::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    wake_ = cut_ = nullptr;
}

bool EventClient::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}
