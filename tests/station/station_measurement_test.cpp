// The station's measurements on the simulated bench with real spread: each run keeps what it
// measured, a board outside a limit fails at the step that measured it, a marginal one passes
// counted, and a port that drifts is told before any board fails, again after a restart.
#include <gtest/gtest.h>

#include <set>

#include "config/Sha256.h"
#include "station/Station.h"
#include "station/StationRecipe.h"
#include "store/RunStore.h"
#include "tests/support/CliFixture.h"
#include "tests/support/SimTime.h"

namespace {

std::vector<std::uint8_t> Image(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = std::uint8_t(i * 5 + 1);
    return bytes;
}

class StationMeasurementTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        job.image = std::make_shared<const std::vector<std::uint8_t>>(Image(3000));
        job.imageSha256 = Sha256Hex(*job.image);
        job.pollFlash = true;
        job.recipe = "test recipe";
        job.station = "bench-1";
        job.store = tempPath("line.sqlite");
    }

    // One board at the bench's one port: the `number`-th of its kind, with spread.
    void plugOne(int number, double wear = 0, double slowdown = 1) {
        k350sim::reset();
        const int bus = k350sim::addBus();
        k350sim::BoardOptions options;
        options.dieId = dieIdFor(number);
        options.spread = {true, slowdown, wear};
        const auto board = k350sim::addBoard(bus, options);
        k350sim::setEeprom(board, 0, k350sim::plausibleConfiguration(0));
        RunSimOnClock(clock);
    }

    StationCounts runOne() {
        Station station(job, clock, [this](const StationEvent& event) { events.push_back(event); });
        return station.run([] { return StationStop::None; }, 1);
    }

    std::vector<RunRecord> runs() { return OpenRunStore(job.store)->history({}); }

    std::vector<StationEvent> drifts() const {
        std::vector<StationEvent> found;
        for (const StationEvent& event : events) {
            if (event.step == "drift") found.push_back(event);
        }
        return found;
    }

    StationJob job;
    std::vector<StationEvent> events;
};

const Measurement* Named(const RunRecord& run, const std::string& name) {
    for (const Measurement& measurement : run.measurements) {
        if (measurement.name == name) return &measurement;
    }
    return nullptr;
}

TEST_F(StationMeasurementTest, EachRunKeepsWhatItMeasuredWithItsUnitAndOutcome) {
    job.verify = true;
    job.soak.seconds = 5;
    job.limits["flash.erase_ms.max"] = {std::nullopt, 400.0, std::nullopt, 350.0};
    plugOne(1);
    ASSERT_EQ(runOne().passed, 1);
    const RunRecord run = runs().at(0);
    std::set<std::string> names;
    for (const Measurement& measurement : run.measurements) names.insert(measurement.name);
    for (const KnownMeasurement& known : KnownMeasurements()) {
        const bool taken =
            std::string(known.name) != "config.s" && std::string(known.name) != "readback.s";
        EXPECT_EQ(names.count(known.name), taken ? 1u : 0u) << known.name;
    }
    const Measurement* erase = Named(run, "flash.erase_ms.max");
    ASSERT_NE(erase, nullptr);
    EXPECT_EQ(erase->unit, "ms");
    EXPECT_EQ(erase->outcome, MeasurementOutcome::Pass);
    EXPECT_NEAR(erase->value, 250, 60);  // a real part's erase, with its spread
    EXPECT_EQ(Named(run, "identify.ms")->outcome, MeasurementOutcome::Unlimited);
    // The same board measures the same the next time.
    plugOne(1);
    job.reprocessPassed = true;
    runOne();
    EXPECT_NEAR(Named(runs().at(1), "flash.erase_ms.max")->value, erase->value,
                0.05 * erase->value);
}

TEST_F(StationMeasurementTest, ABoardOutsideALimitFailsAtItsStepAndAMarginalOneIsCounted) {
    // The data sheet's 250 ms; a slow flash takes 1.4 times its own, well above.
    job.limits["flash.erase_ms.max"] = {std::nullopt, 250.0, std::nullopt, 220.0};
    plugOne(2, 0, 1.4);
    ASSERT_EQ(runOne().failed, 1);
    RunRecord run = runs().at(0);
    EXPECT_EQ(run.failedStep, "flash");
    const Measurement* erase = Named(run, "flash.erase_ms.max");
    ASSERT_NE(erase, nullptr);
    EXPECT_EQ(erase->outcome, MeasurementOutcome::Fail);
    EXPECT_EQ(run.error, "flash.erase_ms.max " + ValueText(erase->value) +
                             " ms is above its high limit 250 ms");

    job.limits["flash.erase_ms.max"] = {std::nullopt, 600.0, std::nullopt, 250.0};
    plugOne(3, 0, 1.4);
    events.clear();
    ASSERT_EQ(runOne().passed, 1);
    EXPECT_EQ(Named(runs().at(1), "flash.erase_ms.max")->outcome, MeasurementOutcome::Marginal);
    bool counted = false;
    for (const StationEvent& event : events) {
        if (event.step == "board" && event.state == "passed") counted = event.marginal == 1;
    }
    EXPECT_TRUE(counted);
}

// Each board at the port a little worse: the drift rule speaks while every board still passes,
// and a station started again reads the port's history from the store and speaks at once.
TEST_F(StationMeasurementTest, ADriftingPortIsToldBeforeAnyBoardFailsAndAfterARestart) {
    job.limits["flash.erase_ms.max"] = {std::nullopt, 1000.0, std::nullopt, std::nullopt};
    int number = 1;
    for (; number <= 12 && drifts().empty(); ++number) {
        plugOne(10 + number, 0.12 * number);
        ASSERT_EQ(runOne().passed, 1) << number;
    }
    ASSERT_FALSE(drifts().empty()) << "no drift in " << number - 1 << " boards";
    const StationEvent first = drifts().front();
    EXPECT_EQ(first.measurement.rfind("flash.erase_ms", 0), 0u) << first.measurement;
    EXPECT_FALSE(first.values.empty());
    EXPECT_NE(first.error.find("drifts"), std::string::npos);
    for (const RunRecord& run : runs()) EXPECT_EQ(run.result, "passed");

    events.clear();  // a new station on the same store
    plugOne(10 + number, 0.12 * number);
    ASSERT_EQ(runOne().passed, 1);
    EXPECT_FALSE(drifts().empty());
}

}  // namespace
