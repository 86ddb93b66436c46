// The recipe's [limits] table, the --limit option and the soak's maxima as limits: each checked
// at start, with the words the operator reads.
#include <gtest/gtest.h>

#include "station/StationLimits.h"
#include "station/StationRecipe.h"
#include "tests/support/CliFixture.h"
#include "tests/support/RecipeText.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class LimitsTest : public ::testing::Test {
protected:
    TemporaryFolder folder{"k350-limits"};
    std::string refusal(const std::string& text) { return RecipeRefusal(folder, text); }
    StationSettings recipe(const std::string& text) { return LoadedRecipe(folder, text); }
};

TEST_F(LimitsTest, TheTableGivesEachMeasurementItsLimits) {
    const StationSettings settings = recipe(R"(
[limits]
"flash.program_ms.max" = { high = 3.0, marginal_high = 2.5 }
"soak.sync_frequency.mean" = { low = 7990, high = 8010 }
[limits."identify.ms"]
high = 250
)");
    const MeasurementLimits program = LimitsOf(settings.limits, "flash.program_ms.max");
    EXPECT_EQ(program.high, 3.0);
    EXPECT_EQ(program.marginalHigh, 2.5);
    EXPECT_EQ(program.low, std::nullopt);
    EXPECT_EQ(LimitsOf(settings.limits, "soak.sync_frequency.mean").low, 7990);
    EXPECT_EQ(LimitsOf(settings.limits, "identify.ms").high, 250);
    EXPECT_FALSE(LimitsOf(settings.limits, "download.s").any());
}

TEST_F(LimitsTest, EveryMisspeltOrImpossibleLimitIsRefusedAtStart) {
    EXPECT_EQ(refusal("[limits]\n\"flash.program_ms\" = { high = 3 }\n"),
              "limits.\"flash.program_ms\": no measurement of that name");
    EXPECT_EQ(refusal("[limits]\n\"identify.ms\" = { max = 3 }\n"),
              "unknown key limits.\"identify.ms\".max (low, high, marginal_low, marginal_high)");
    EXPECT_EQ(refusal("[limits]\n\"identify.ms\" = { high = \"3\" }\n"),
              "limits.\"identify.ms\".high must be a number");
    EXPECT_EQ(refusal("[limits]\n\"identify.ms\" = 3\n"),
              "limits.\"identify.ms\" must be a table of limits");
    EXPECT_EQ(refusal("[limits]\n\"identify.ms\" = {}\n"), "limits.\"identify.ms\" gives no limit");
    EXPECT_EQ(refusal("[limits]\n\"soak.lost_percent.mean\" = { high = 101 }\n"),
              "limits.\"soak.lost_percent.mean\".high needs a number from 0 to 100, not 101");
    EXPECT_EQ(refusal("[limits]\n\"identify.ms\" = { high = nan }\n"),
              "limits.\"identify.ms\".high needs a number from 0 to 1000000, not nan");
    EXPECT_EQ(refusal("[limits]\n\"flash.erase_ms.max\" = { high = 300, marginal_high = 320 }\n"),
              "limits.\"flash.erase_ms.max\": marginal_high 320 is above high 300");
    EXPECT_EQ(refusal("[limits]\n\"download.s\" = { low = 5, high = 2 }\n"),
              "limits.\"download.s\": low 5 is above high 2");
}

// The soak's maxima keep their meaning: each is the high limit of the soak's worst reading of
// its figure, and one limit is not given twice.
TEST_F(LimitsTest, TheSoakMaximaAreTheHighLimitsOfTheWorstFigures) {
    SoakLimits soak;
    soak.maxErroneousPercent = 0.1;
    soak.maxJitterMs = 20;
    LimitTable table;
    table["soak.jitter_ms.worst"].marginalHigh = 15;
    const LimitTable limits = WithSoakMaxima(table, soak);
    EXPECT_EQ(LimitsOf(limits, "soak.erroneous_percent.worst").high, 0.1);
    EXPECT_EQ(LimitsOf(limits, "soak.jitter_ms.worst").high, 20);
    EXPECT_EQ(LimitsOf(limits, "soak.jitter_ms.worst").marginalHigh, 15);
    EXPECT_FALSE(LimitsOf(limits, "soak.lost_percent.worst").any());
    EXPECT_FALSE(LimitsOf(limits, "soak.jitter_ms.mean").any());

    EXPECT_EQ(refusal("[soak]\nmax_jitter_ms = 20\n[limits]\n"
                      "\"soak.jitter_ms.worst\" = { high = 25 }\n"),
              "soak.max_jitter_ms and limits.\"soak.jitter_ms.worst\".high are one limit: give "
              "one");
    EXPECT_EQ(refusal("[soak]\nmax_jitter_ms = 20\n[limits]\n"
                      "\"soak.jitter_ms.worst\" = { marginal_high = 15 }\n"),
              "");
}

// A maximum from the command line over a recipe's marginal band above it is refused when the
// job is built, before any board.
TEST_F(LimitsTest, AMaximumBelowTheRecipesMarginalBandIsRefusedWhenTheJobIsBuilt) {
    StationSettings settings = recipe(
        "[soak]\nseconds = 1\n[limits]\n\"soak.jitter_ms.worst\" = { marginal_high = 15 }\n");
    settings.soak.maxJitterMs = 10;
    try {
        BuildStationJob(settings);
        ADD_FAILURE() << "built";
    } catch (const RecipeError& error) {
        EXPECT_STREQ(error.what(),
                     "limits.\"soak.jitter_ms.worst\": marginal_high 15 is above high 10");
    }
    settings.soak.maxJitterMs = 30;
    EXPECT_NO_THROW(BuildStationJob(settings));
}

TEST_F(LimitsTest, TheOptionSetsOneLimitOverTheTable) {
    LimitTable limits = recipe("[limits]\n\"flash.program_ms.max\" = { high = 3.0 }\n").limits;
    ApplyLimitOption(limits, "flash.program_ms.max.marginal_high=2.5");
    ApplyLimitOption(limits, "flash.program_ms.max.high=3.5");
    EXPECT_EQ(LimitsOf(limits, "flash.program_ms.max"),
              (MeasurementLimits{std::nullopt, 3.5, std::nullopt, 2.5}));
    const auto refused = [&](const std::string& option) {
        try {
            ApplyLimitOption(limits, option);
        } catch (const RecipeError& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    EXPECT_EQ(refused("flash.program_ms.max=3"),
              "limits.\"flash.program_ms\": no measurement of that name");
    EXPECT_EQ(refused("identify.ms.high"), "--limit \"identify.ms.high\" is not NAME.KEY=VALUE");
    EXPECT_EQ(refused("identify.ms.high=fast"),
              "--limit \"identify.ms.high=fast\": fast is no number");
    EXPECT_EQ(refused("identify.ms.high=5ms"),
              "--limit \"identify.ms.high=5ms\": 5ms is no number");
    EXPECT_EQ(refused("flash.program_ms.max.high=2"),
              "limits.\"flash.program_ms.max\": marginal_high 2.5 is above high 2");
    // A refused option changes nothing.
    EXPECT_EQ(LimitsOf(limits, "flash.program_ms.max").high, 3.5);
}

// k350ctl station takes --limit as often as needed, each over the last, and refuses a bad one
// before any board, as it refuses the recipe's.
using LimitOptionTest = CliFixture;

TEST_F(LimitOptionTest, TheStationRefusesABadLimitAtStart) {
    const CliRun word = run({"station", "--limit", "identify.ms.high=fast"});
    EXPECT_EQ(word.status, 2);
    EXPECT_NE(word.err.find("--limit \"identify.ms.high=fast\": fast is no number"),
              std::string::npos)
        << word.err;
    const CliRun order =
        run({"station", "--limit", "download.s.high=5", "--limit", "download.s.marginal_high=6"});
    EXPECT_EQ(order.status, 2);
    EXPECT_NE(order.err.find("limits.\"download.s\": marginal_high 6 is above high 5"),
              std::string::npos)
        << order.err;
}

}  // namespace
