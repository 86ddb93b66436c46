// Puts the simulated board on a test's virtual clock, and takes it off again.
#pragma once

#include "config/Clock.h"
#include "sim/SimControl.h"
#include "tests/support/VirtualClock.h"

// From now on the board's time is the clock's; each transfer advances it.
inline void RunSimOnClock(VirtualClock& clock) {
    k350sim::setClock([&clock] { return clock.nowUs(); },
                      [&clock](std::int64_t us) { clock.advanceUs(us); });
}

// An empty world with one healthy board just plugged in, on the clock.
inline k350sim::DeviceId PlugFreshBoard(VirtualClock& clock) {
    k350sim::reset();
    const k350sim::DeviceId board = k350sim::addBoard(k350sim::addBus());
    RunSimOnClock(clock);
    return board;
}

// Leaves the simulator as a test found it: no hook, its own clock, no devices.
inline void ReleaseSim() {
    k350sim::setReplyHook({});
    k350sim::setClock(nullptr, nullptr);
    k350sim::reset();
}
