// Pauses and the passing of time, so tests can run them on a virtual clock.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleepMs(std::uint32_t ms) = 0;
    virtual std::int64_t nowUs() = 0;   // monotonic
    virtual TimeOfDay timeOfDay() = 0;  // local wall-clock time
};

class SystemClock : public Clock {
public:
    void sleepMs(std::uint32_t ms) override;
    std::int64_t nowUs() override;
    TimeOfDay timeOfDay() override;
};

// Time passes only when someone says so: pauses advance it at once and are
// recorded, and the simulated board advances it per transfer.
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
