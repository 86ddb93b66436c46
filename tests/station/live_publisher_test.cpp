// The station's live state as it reaches the store: a board's steps, serial and end at its port,
// progress thinned out, the bench's heartbeat and its stop; a store that is away or locked never
// holds up the station's events, and gets the newest state once it is back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "station/LivePublisher.h"
#include "store/LiveWatch.h"
#include "store/RunStore.h"
#include "store/SqliteConnection.h"
#include "tests/support/TemporaryFolder.h"

namespace {

using namespace std::chrono_literals;

// A safety net only: what is waited for comes within milliseconds.
constexpr auto kLimit = 60s;

StationEvent Event(const std::string& port, const std::string& die, const std::string& serial,
                   const std::string& step, const std::string& state, std::uint32_t done = 0,
                   std::uint32_t total = 0, const std::string& error = {}) {
    return {port, die, serial, step, state, done, total, error};
}

class LivePublisherTest : public ::testing::Test {
protected:
    void SetUp() override { OpenRunStore(location); }

    BenchLive bench() const {
        BenchLive bench;
        bench.name = "bench-2";
        bench.host = "line2-pc";
        bench.recipe = "K-350A, line 2";
        return bench;
    }

    // Waits until the store's live rows satisfy `ready`.
    bool waitFor(const std::function<bool(const LiveChanges&)>& ready) {
        LiveWatch watch(location);
        const auto end = std::chrono::steady_clock::now() + kLimit;
        while (std::chrono::steady_clock::now() < end) {
            if (ready(watch.changedAfter(0))) return true;
            watch.waitForNews(LiveWatch::kSqliteLookMs);
        }
        return false;
    }

    static const PortLive* PortIn(const LiveChanges& changes, const std::string& port) {
        for (const PortLive& row : changes.ports) {
            if (row.port == port) return &row;
        }
        return nullptr;
    }

    std::int64_t changes() { return LiveWatch(location).changedAfter(0).last; }

    TemporaryFolder folder{"k350-live-publisher"};
    std::string location = folder.file("line.sqlite");
};

TEST_F(LivePublisherTest, ABoardsStepsSerialAndEndReachItsPort_AndTheBenchItsStop) {
    {
        LivePublisher live(location, bench(), [] { return std::optional<int>(2); });
        live.record(Event("1-1.3", "0x350A000000000007", "", "identify", "done"));
        live.record(Event("1-1.3", "0x350A000000000007", "0107", "flash", "started"));
        live.record(Event("1-1.3", "0x350A000000000007", "0107", "flash", "progress", 40, 100));
        ASSERT_TRUE(waitFor([](const LiveChanges& live) {
            const PortLive* port = PortIn(live, "1-1.3");
            return port && port->step == "flash" && port->done == 40;
        }));
        live.record(
            Event("1-1.3", "0x350A000000000007", "0107", "flash", "failed", 0, 0, "Error: -110"));
        live.record(
            Event("1-1.3", "0x350A000000000007", "0107", "board", "failed", 0, 0, "Error: -110"));
        live.record(Event("1-1.3", "0x350A000000000007", "0107", "hook", "done", 0, 0, "mailed"));
        ASSERT_TRUE(waitFor([](const LiveChanges& live) {
            const PortLive* port = PortIn(live, "1-1.3");
            return port && port->lastResult == "failed";
        }));
        const LiveChanges now = LiveWatch(location).changedAfter(0);
        const PortLive& port = *PortIn(now, "1-1.3");
        EXPECT_EQ(port.bench, "bench-2");
        EXPECT_EQ(port.serial, "0107");
        EXPECT_EQ(port.step, "board");  // the hook's line is not a step of the board
        EXPECT_EQ(port.lastError, "Error: -110");
        ASSERT_EQ(now.benches.size(), 1u);
        EXPECT_EQ(now.benches[0].ports, std::vector<std::string>{"1-1.3"});
        EXPECT_EQ(now.benches[0].journalRuns, 2);
        EXPECT_EQ(now.benches[0].state, BenchState::Running);
        // The next board at the port is a board of its own: no serial of the last one.
        live.record(Event("1-1.3", "0x350A000000000008", "", "identify", "done"));
        ASSERT_TRUE(waitFor([](const LiveChanges& live) {
            const PortLive* port = PortIn(live, "1-1.3");
            return port && port->dieId == "0x350A000000000008";
        }));
        EXPECT_EQ(PortIn(LiveWatch(location).changedAfter(0), "1-1.3")->serial, "");
        live.record(Event("", "", "", "station", "stopping", 1));
        ASSERT_TRUE(waitFor([](const LiveChanges& live) {
            return !live.benches.empty() && live.benches[0].state == BenchState::Stopping;
        }));
    }
    EXPECT_EQ(LiveWatch(location).changedAfter(0).benches.at(0).state, BenchState::Stopped);
}

// A download reports every page: the store gets a port's progress at most once per pace, while
// a step is written at once.
TEST_F(LivePublisherTest, ProgressIsThinnedOutAndAStepIsNot) {
    LivePace pace;
    pace.progressMs = 500;
    pace.heartbeatMs = 60'000;
    LivePublisher live(location, bench(), {}, pace);
    live.record(Event("1-1.1", "0x01", "0001", "flash", "started"));
    ASSERT_TRUE(waitFor([](const LiveChanges& live) { return PortIn(live, "1-1.1"); }));
    const std::int64_t before = changes();
    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t page = 1; page <= 2000; ++page) {
        live.record(Event("1-1.1", "0x01", "0001", "flash", "progress", page, 2000));
    }
    live.record(Event("1-1.1", "0x01", "0001", "flash", "done"));
    ASSERT_TRUE(waitFor([](const LiveChanges& live) {
        const PortLive* port = PortIn(live, "1-1.1");
        return port && port->state == "done";
    }));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // One progress write per pace that passed, the step's, and one that was due at the start.
    EXPECT_LE(changes() - before, 2 + std::int64_t(seconds / 0.5) + 1);
}

TEST_F(LivePublisherTest, TheBenchBeatsWhileNothingHappens) {
    LivePace pace;
    pace.heartbeatMs = 20;
    LivePublisher live(location, bench(), {}, pace);
    ASSERT_TRUE(waitFor([](const LiveChanges& live) { return !live.benches.empty(); }));
    const std::int64_t first = changes();
    EXPECT_TRUE(waitFor([&](const LiveChanges& live) { return live.last >= first + 3; }));
}

// Another connection holds the file's write lock: the publisher's writes wait and fail, the
// station's events are taken at once all the same, and the newest state arrives after.
TEST_F(LivePublisherTest, ALockedStoreHoldsUpNoEventAndGetsTheNewestStateAfter) {
    LivePace pace;
    pace.retryMs = 50;
    LivePublisher live(location, bench(), {}, pace);
    ASSERT_TRUE(waitFor([](const LiveChanges& live) { return !live.benches.empty(); }));
    SqliteConnection holder(location);
    holder.beginExclusive();
    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t n = 1; n <= 200; ++n) {
        live.record(Event("1-1.2", "0x02", "0002", n % 2 ? "verify" : "config", "started", n));
    }
    // Each write would wait two seconds for the lock: 200 of them would take minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    holder.rollback();
    EXPECT_TRUE(waitFor([](const LiveChanges& live) {
        const PortLive* port = PortIn(live, "1-1.2");
        return port && port->done == 200;
    }));
}

TEST_F(LivePublisherTest, AStoreNotThereYetIsNotMadeByThePublisher) {
    const std::string missing = folder.file("missing.sqlite");
    {
        LivePace pace;
        pace.stopWaitMs = 100;
        LivePublisher live(missing, bench(), {}, pace);
        live.record(Event("1-1.1", "0x01", "0001", "flash", "started"));
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
