#include "tests/support/VirtualClock.h"

void VirtualClock::sleepMs(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    pauses_.push_back(ms);
    nowUs_ += std::int64_t(ms) * 1000;
}

std::int64_t VirtualClock::nowUs() {
    std::lock_guard lock(mutex_);
    return nowUs_;
}

TimeOfDay VirtualClock::timeOfDay() {
    std::lock_guard lock(mutex_);
    std::int64_t seconds = start_.hour * 3600 + start_.minute * 60 + start_.second;
    seconds = (seconds + nowUs_ / 1000000) % 86400;
    return {int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60)};
}

void VirtualClock::advanceUs(std::int64_t us) {
    std::lock_guard lock(mutex_);
    nowUs_ += us;
}

std::vector<std::uint32_t> VirtualClock::pauses() const {
    std::lock_guard lock(mutex_);
    return pauses_;
}

void VirtualClock::clearPauses() {
    std::lock_guard lock(mutex_);
    pauses_.clear();
}
