// How long a piece of work takes, as the store benchmarks time it.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

inline double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of three, so one hiccup of a shared machine does not make the figure.
inline double Best(const std::function<void()>& work) {
    double best = Seconds(work);
    for (int i = 0; i < 2; ++i) best = std::min(best, Seconds(work));
    return best;
}
