// Time passes only when someone says so: pauses advance it at once and are
// recorded, and the simulated board advances it per transfer.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "config/Clock.h"

class VirtualClock : public Clock {
public:
    explicit VirtualClock(TimeOfDay start = {12, 0, 0}) : start_(start) {}
    void sleepMs(std::uint32_t ms) override;
    std::int64_t nowUs() override;
    TimeOfDay timeOfDay() override;
    void advanceUs(std::int64_t us);
    std::vector<std::uint32_t> pauses() const;
    void clearPauses();

private:
    mutable std::mutex mutex_;
    TimeOfDay start_;
    std::int64_t nowUs_ = 0;
    std::vector<std::uint32_t> pauses_;
};
