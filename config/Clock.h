// Pauses and the passing of time, so tests can run them on a virtual clock.
#pragma once

#include <cstdint>

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
