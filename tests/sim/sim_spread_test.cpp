// Boards that differ as real ones do: each board's figures from its die ID, the same every time,
// the nominal ones when the spread is off.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/SimBoard.h"
#include "sim/SimSpread.h"

namespace sim = k350sim;

namespace {

sim::BoardOptions Spread(uint8_t last, double slowdown = 1, double wear = 0) {
    sim::BoardOptions options;
    options.dieId.back() = last;
    options.spread = {true, slowdown, wear};
    return options;
}

// How long the flash stays busy after a sector erase, to the microsecond.
int64_t EraseBusyUs(sim::SpiFlash& flash, int64_t startUs) {
    std::vector<std::string> violations;
    sim::BoardContext context{startUs, &violations};
    flash.transfer({0x06}, 0, context);
    flash.transfer({0xD8, 0x00, 0x00, 0x00}, 0, context);
    int64_t low = startUs, high = startUs + 10'000'000;
    while (high - low > 1) {
        const int64_t middle = (low + high) / 2;
        sim::BoardContext at{middle, &violations};
        (flash.transfer({0x05}, 1, at)[0] & 1 ? low : high) = middle;
    }
    EXPECT_TRUE(violations.empty());
    return high - startUs;
}

TEST(SimSpread, WithoutSpreadEveryBoardHasTheNominalFigures) {
    const sim::BoardFigures figures = sim::FiguresOf(sim::BoardOptions{});
    EXPECT_EQ(figures.eraseUs, 250'000);
    EXPECT_EQ(figures.programUs, 700);
    sim::SpiFlash flash(128 * 1024, figures, 1);
    EXPECT_EQ(EraseBusyUs(flash, 0), 250'000);
    EXPECT_EQ(EraseBusyUs(flash, 1'000'000), 250'000);
    const sim::Statistics statistics(figures);
    EXPECT_EQ(statistics.at(5'000'000)[16], 8000u);
    EXPECT_EQ(statistics.at(5'000'000)[14], 18u + 5 % 9);
}

TEST(SimSpread, ABoardIsTheSameBoardEveryTimeAndItsNeighbourIsNot) {
    const sim::BoardFigures first = sim::FiguresOf(Spread(1));
    const sim::BoardFigures again = sim::FiguresOf(Spread(1));
    const sim::BoardFigures other = sim::FiguresOf(Spread(2));
    EXPECT_EQ(first.eraseUs, again.eraseUs);
    EXPECT_EQ(first.programUs, again.programUs);
    EXPECT_EQ(first.erroneousScale, again.erroneousScale);
    EXPECT_NE(first.eraseUs, other.eraseUs);
    EXPECT_NE(first.erroneousScale, other.erroneousScale);

    sim::SpiFlash a(128 * 1024, first, sim::SeedOf(Spread(1).dieId));
    sim::SpiFlash b(128 * 1024, first, sim::SeedOf(Spread(1).dieId));
    const int64_t erase = EraseBusyUs(a, 0);
    EXPECT_EQ(EraseBusyUs(b, 0), erase);
    // From one erase to the next, a little.
    EXPECT_NE(EraseBusyUs(a, 1'000'000), erase);
    EXPECT_NEAR(double(EraseBusyUs(a, 2'000'000)), double(first.eraseUs), 0.1 * first.eraseUs);
}

// Over many boards the figures keep the spreads a reel of chips and a batch of boards have.
TEST(SimSpread, TheSpreadsOverManyBoardsAreRealistic) {
    double eraseSum = 0, eraseSquares = 0;
    int syncAway = 0;
    const int boards = 2000;
    for (int i = 0; i < boards; ++i) {
        sim::BoardOptions options = Spread(uint8_t(i));
        options.dieId[5] = uint8_t(i >> 8);
        const sim::BoardFigures figures = sim::FiguresOf(options);
        const double erase = double(figures.eraseUs) / 250'000;
        eraseSum += erase;
        eraseSquares += erase * erase;
        EXPECT_GT(figures.programUs, 500);
        EXPECT_LT(figures.programUs, 900);
        EXPECT_GT(figures.erroneousScale, 0);
        if (figures.syncOffsetHz != 0) ++syncAway;
    }
    const double mean = eraseSum / boards;
    EXPECT_NEAR(mean, 1.0, 0.01);
    EXPECT_NEAR(std::sqrt(eraseSquares / boards - mean * mean), 0.06, 0.01);
    EXPECT_GT(syncAway, boards / 3);
}

TEST(SimSpread, AMarginalBoardsFlashIsSlowAndAWornBoardWorseThroughout) {
    const sim::BoardFigures plain = sim::FiguresOf(Spread(7));
    const sim::BoardFigures slow = sim::FiguresOf(Spread(7, 1.4));
    EXPECT_NEAR(double(slow.programUs) / plain.programUs, 1.4, 0.01);
    EXPECT_NEAR(double(slow.eraseUs) / plain.eraseUs, 1.4, 0.01);
    EXPECT_EQ(slow.erroneousScale, plain.erroneousScale);

    const sim::BoardFigures worn = sim::FiguresOf(Spread(7, 1, 0.1));
    EXPECT_NEAR(double(worn.programUs) / plain.programUs, 1.1, 0.01);
    EXPECT_NEAR(worn.jitterScale / plain.jitterScale, 1.1, 1e-9);
    EXPECT_NEAR(worn.lostScale / plain.lostScale, 1.1, 1e-9);
    const sim::Statistics statistics(worn);
    const sim::Statistics nominal(plain);
    EXPECT_GT(statistics.at(30'000'000)[6], nominal.at(30'000'000)[6]);
}

}  // namespace
