// Eleven auto-reset events: windows signal and reset them from the
// user-interface thread, the worker takes the lowest signalled one. Each
// signalled event remembers the generation of the window that signalled it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

#include "link/LinkTypes.h"

class RequestEvents {
public:
    struct Taken {
        WorkerRequest request;
        WindowGeneration requester;
    };

    // Signalling again changes nothing but who asked last.
    void signal(WorkerRequest request, WindowGeneration requester = kAnyGeneration) {
        flag(request).store(kSignalled | requester);
    }
    void reset(WorkerRequest request) { flag(request).store(0); }
    bool isSignalled(WorkerRequest request) const {
        return flags_[std::size_t(request)].load() != 0;
    }
    // Takes (and resets) the lowest signalled event, if any.
    std::optional<Taken> takeLowest() {
        for (int i = 0; i < kWorkerRequestCount; ++i) {
            const std::uint64_t state = flags_[std::size_t(i)].exchange(0);
            if (state != 0) return Taken{WorkerRequest(i), WindowGeneration(state)};
        }
        return std::nullopt;
    }

private:
    static constexpr std::uint64_t kSignalled = std::uint64_t(1) << 32;
    std::atomic<std::uint64_t>& flag(WorkerRequest request) { return flags_[std::size_t(request)]; }
    std::array<std::atomic<std::uint64_t>, kWorkerRequestCount> flags_{};
};
