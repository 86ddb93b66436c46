// A station's store through an SQLite file another program holds locked (BEGIN EXCLUSIVE): the
// lock is waited for as any outage is, for the operator's retry time (on the virtual clock; only
// SQLite's own half-second looks at the lock take real time), said as a wait, and a stop ends the
// wait at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "store/RetryingRunStore.h"
#include "store/SqliteConnection.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/VirtualClock.h"

using ::testing::HasSubstr;

namespace {

RunRecord Begun() {
    RunRecord run;
    run.key = "key-1";
    run.dieId = "0x01";
    run.chipId = "0xC1";
    run.station = "bench-1";
    run.port = "1-1.3";
    run.recipe = "k350a";
    return run;
}

class LockedSqliteStore : public ::testing::Test {
protected:
    void SetUp() override {
        OpenRunStore(location);
        holder.emplace(location);
        holder->beginExclusive();
    }
    void release() {
        holder->commit();
        holder.reset();
    }

    TemporaryFolder folder{"k350-locked"};
    std::string location = folder.file("line.sqlite");
    std::optional<SqliteConnection> holder;  // another station, stuck inside its transaction
    VirtualClock clock;
    std::vector<std::string> told;
    RetryingRunStore::Waiting waiting = [this](const std::string& fault) { told.push_back(fault); };
};

}  // namespace

TEST_F(LockedSqliteStore, ALockHeldLongerThanTheRetryTimeIsAnOutageToldAndBounded) {
    RetryingRunStore store(location, clock, 3, waiting);
    try {
        store.beginRun(Begun());
        FAIL() << "the locked store took the run";
    } catch (const StoreUnavailable& fault) {
        EXPECT_THAT(fault.what(), HasSubstr("database is locked"));
        EXPECT_THAT(fault.what(), HasSubstr("(retried for 3 s)"));
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_THAT(told[0], HasSubstr("database is locked"));
    // The operator's 3 s, and not SQLite's own minute.
    EXPECT_EQ(clock.nowUs(), 3'000'000);
}

TEST_F(LockedSqliteStore, AStoreThatIsReleasedTakesTheRunAndIsToldAsBack) {
    bool released = false;
    // Looked at while the station waits: the other station commits 1.5 s into the wait.
    RetryingRunStore store(location, clock, 60, waiting, [&] {
        if (!released && clock.nowUs() >= 1'500'000) {
            release();
            released = true;
        }
        return false;
    });
    EXPECT_GT(store.beginRun(Begun()), 0);
    EXPECT_TRUE(released);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[1], "");
    EXPECT_LT(clock.nowUs(), 10'000'000);
}

TEST_F(LockedSqliteStore, AStopEndsTheWaitForTheLockAtOnce) {
    const std::int64_t stopAtUs = 700'000;  // inside SQLite's own wait for the lock
    RetryingRunStore store(location, clock, 600, waiting,
                           [&] { return clock.nowUs() >= stopAtUs; });
    EXPECT_THROW(store.beginRun(Begun()), StoreWaitStopped);
    EXPECT_LT(clock.nowUs() - stopAtUs, 100'000);
}

// A stop that comes while SQLite itself waits for the lock (its first half-second, before any
// retry) is seen there, at its next look at the lock once the wait is longer than another
// writer's transaction, not at the end of that wait.
TEST_F(LockedSqliteStore, AStopIsSeenInsideSqlitesOwnWait) {
    int looks = 0;
    RetryingRunStore store(location, clock, 600, waiting, [&] { return ++looks > 5; });
    EXPECT_THROW(store.beginRun(Begun()), StoreWaitStopped);
    EXPECT_TRUE(told.empty());  // never told as a wait: it ended before it became one
    EXPECT_EQ(clock.nowUs(), 0);
}
