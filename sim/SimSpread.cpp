#include "sim/SimSpread.h"

#include <algorithm>
#include <cmath>

namespace k350sim {

namespace {

// One sigma of each figure from board to board, as a share of the nominal value: the spreads
// of a reel of flash chips and of a batch of crystals and boards.
constexpr double kEraseSpread = 0.06;
constexpr double kProgramSpread = 0.05;
constexpr double kBusyVariation = 0.02;
constexpr double kLinkSpread = 0.25;
constexpr double kJitterSpread = 0.10;
constexpr double kLoadSpreadParts = 300;  // about 0.6 % load
constexpr double kSyncSpreadHz = 1.5;

double Positive(double value) {
    return std::max(0.05, value);
}

}  // namespace

uint64_t SpreadRandom::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double SpreadRandom::uniform() {
    return double(next() >> 11) * 0x1.0p-53;
}

double SpreadRandom::normal() {
    const double u1 = std::max(uniform(), 1e-300);
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * uniform());
}

uint64_t SeedOf(const Id8& dieId) {
    uint64_t seed = 0;
    for (uint8_t byte : dieId) seed = seed << 8 | byte;
    return seed;
}

BoardFigures FiguresOf(const BoardOptions& options) {
    BoardFigures figures;
    const BoardSpread& spread = options.spread;
    if (!spread.enabled) return figures;
    SpreadRandom random(SeedOf(options.dieId));
    const double worse = 1 + spread.wear;
    const double slow = spread.flashSlowdown * worse;
    figures.eraseUs =
        int64_t(figures.eraseUs * Positive(1 + kEraseSpread * random.normal()) * slow);
    figures.programUs =
        int64_t(figures.programUs * Positive(1 + kProgramSpread * random.normal()) * slow);
    figures.busyVariation = kBusyVariation;
    figures.erroneousScale = Positive(1 + kLinkSpread * random.normal()) * worse;
    figures.lostScale = Positive(1 + kLinkSpread * random.normal()) * worse;
    figures.jitterScale = Positive(1 + kJitterSpread * random.normal()) * worse;
    figures.loadOffset = int32_t(std::lround(kLoadSpreadParts * random.normal()));
    figures.syncOffsetHz = int32_t(std::lround(kSyncSpreadHz * random.normal()));
    return figures;
}

}  // namespace k350sim
