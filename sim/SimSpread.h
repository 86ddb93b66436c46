// How one simulated board differs from the next: its flash's busy times and its link figures,
// drawn from its die ID, so a board is the same board every time it is plugged in.
#pragma once

#include <cstdint>

#include "sim/SimControl.h"

namespace k350sim {

// A board's own figures. The nominal ones (spread off) are the data sheet's: every sector erase
// 250 ms, every page program 0.7 ms, the link's counters as the default board counts them.
struct BoardFigures {
    int64_t eraseUs = 250'000, programUs = 700;
    double busyVariation = 0;  // each erase or program varies by this share (one sigma)
    double erroneousScale = 1, lostScale = 1, jitterScale = 1;
    int32_t loadOffset = 0;  // in 1/46875 parts
    int32_t syncOffsetHz = 0;
};

BoardFigures FiguresOf(const BoardOptions& options);

// A small generator of its own (splitmix64), so the figures do not depend on the library's.
class SpreadRandom {
public:
    explicit SpreadRandom(uint64_t seed) : state_(seed) {}
    uint64_t next();
    double uniform();  // [0, 1)
    double normal();   // mean 0, sigma 1

private:
    uint64_t state_;
};

uint64_t SeedOf(const Id8& dieId);

}  // namespace k350sim
