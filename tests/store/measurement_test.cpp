// A measurement's outcome against its limits and the words that say why it failed.
#include "store/Measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

namespace {

MeasurementLimits Band(std::optional<double> low, std::optional<double> marginalLow,
                       std::optional<double> marginalHigh, std::optional<double> high) {
    return {low, high, marginalLow, marginalHigh};
}

TEST(MeasurementOutcome, LimitsAndTheMarginalBandSplitTheLine) {
    const MeasurementLimits limits = Band(1.0, 1.5, 2.5, 3.0);
    struct Case {
        double value;
        MeasurementOutcome outcome;
    };
    for (const Case& c :
         {Case{0.99, MeasurementOutcome::Fail},
          Case{1.0, MeasurementOutcome::Marginal},  // on the limit: within it
          Case{1.49, MeasurementOutcome::Marginal}, Case{1.5, MeasurementOutcome::Pass},
          Case{2.0, MeasurementOutcome::Pass}, Case{2.5, MeasurementOutcome::Pass},
          Case{2.51, MeasurementOutcome::Marginal}, Case{3.0, MeasurementOutcome::Marginal},
          Case{3.01, MeasurementOutcome::Fail}}) {
        EXPECT_EQ(JudgedOutcome(c.value, limits), c.outcome) << c.value;
    }
}

TEST(MeasurementOutcome, OneSidedLimitsAndNoLimits) {
    EXPECT_EQ(JudgedOutcome(1e9, Band(0.0, {}, {}, {})), MeasurementOutcome::Pass);
    EXPECT_EQ(JudgedOutcome(-0.1, Band(0.0, {}, {}, {})), MeasurementOutcome::Fail);
    // A marginal band alone never fails a board.
    EXPECT_EQ(JudgedOutcome(9, Band({}, {}, 2.0, {})), MeasurementOutcome::Marginal);
    EXPECT_EQ(JudgedOutcome(1e300, {}), MeasurementOutcome::Unlimited);
    EXPECT_EQ(JudgedOutcome(std::nan(""), {}), MeasurementOutcome::Unlimited);
}

// A value that is no number is within no limit, whichever side is given.
TEST(MeasurementOutcome, NoNumberFailsAnyLimit) {
    for (double odd : {std::nan(""), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(JudgedOutcome(odd, Band({}, {}, {}, 3.0)), MeasurementOutcome::Fail) << odd;
        EXPECT_EQ(JudgedOutcome(odd, Band({}, {}, 2.0, {})), MeasurementOutcome::Fail) << odd;
    }
}

TEST(MeasurementOutcome, NamesReadBack) {
    for (const auto outcome : {MeasurementOutcome::Pass, MeasurementOutcome::Marginal,
                               MeasurementOutcome::Fail, MeasurementOutcome::Unlimited}) {
        EXPECT_EQ(OutcomeNamed(OutcomeName(outcome)), outcome);
    }
    EXPECT_EQ(OutcomeNamed("passed"), std::nullopt);
}

TEST(MeasurementBreach, NamesTheMeasurementTheValueAndTheLimit) {
    const Measurement slow = Measured("flash.program_ms.max", 3.25, "ms", Band({}, {}, 2.5, 3.0));
    EXPECT_EQ(slow.outcome, MeasurementOutcome::Fail);
    EXPECT_EQ(LimitBreach(slow), "flash.program_ms.max 3.25 ms is above its high limit 3 ms");
    const Measurement low =
        Measured("soak.sync_frequency.mean", 7989.5, "Hz", Band(7990.0, {}, {}, 8010.0));
    EXPECT_EQ(LimitBreach(low),
              "soak.sync_frequency.mean 7989.5 Hz is below its low limit 7990 Hz");
    EXPECT_EQ(LimitBreach(Measured("identify.ms", std::nan(""), "ms", Band({}, {}, {}, 5.0))),
              "identify.ms nan ms is no number");
    EXPECT_EQ(LimitBreach(Measured("identify.ms", 4, "ms", Band({}, {}, 3.0, 5.0))), "");
}

TEST(MeasurementLimitsOrder, EachPairMustBeInOrder) {
    EXPECT_EQ(LimitsProblem(Band(1.0, 1.5, 2.5, 3.0)), "");
    EXPECT_EQ(LimitsProblem(Band(2.0, 2.0, 2.0, 2.0)), "");
    EXPECT_EQ(LimitsProblem(Band(3.0, {}, {}, 1.0)), "low 3 is above high 1");
    EXPECT_EQ(LimitsProblem(Band({}, {}, 3.5, 3.0)), "marginal_high 3.5 is above high 3");
    EXPECT_EQ(LimitsProblem(Band(1.0, 0.5, {}, {})), "low 1 is above marginal_low 0.5");
    EXPECT_EQ(LimitsProblem(Band({}, 2.0, 1.0, {})), "marginal_low 2 is above marginal_high 1");
}

TEST(MeasurementNames, EveryKnownNameHasItsUnitOnce) {
    std::set<std::string> names;
    for (const KnownMeasurement& known : KnownMeasurements()) {
        EXPECT_TRUE(names.insert(known.name).second) << known.name;
        EXPECT_EQ(UnitOf(known.name), known.unit);
    }
    EXPECT_EQ(names.size(), 19u);
    EXPECT_EQ(UnitOf("soak.sync_frequency.worst"), "Hz");
    EXPECT_EQ(UnitOf("flash.program_ms"), std::nullopt);
}

}  // namespace
