#include "link/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

void SystemClock::sleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::int64_t SystemClock::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

TimeOfDay SystemClock::timeOfDay() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec};
}

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
