// Eleven auto-reset events: windows signal and reset them from the
// user-interface thread, the worker takes the lowest signalled one.
#pragma once

#include <array>
#include <atomic>
#include <optional>

#include "link/LinkTypes.h"

class RequestEvents {
public:
    void signal(WorkerRequest request) { flag(request).store(true); }
    void reset(WorkerRequest request) { flag(request).store(false); }
    bool isSignalled(WorkerRequest request) const { return flags_[std::size_t(request)].load(); }
    // Takes (and resets) the lowest signalled event, if any.
    std::optional<WorkerRequest> takeLowest() {
        for (int i = 0; i < kWorkerRequestCount; ++i) {
            if (flags_[std::size_t(i)].exchange(false)) return WorkerRequest(i);
        }
        return std::nullopt;
    }

private:
    std::atomic<bool>& flag(WorkerRequest request) { return flags_[std::size_t(request)]; }
    std::array<std::atomic<bool>, kWorkerRequestCount> flags_{};
};
