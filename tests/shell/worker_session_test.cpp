#include <gtest/gtest.h>

#include "shell/WorkerSession.h"
#include "tests/support/SimBoards.h"
#include "tests/support/SimTime.h"
#include "ui/TaskWindow.h"

namespace {

class WorkerSessionTest : public ::testing::Test {
protected:
    WorkerSessionTest() { PlugFreshBoard(clock_); }
    ~WorkerSessionTest() override { ReleaseSim(); }

    // A read with no window to report to: the link is opened, then the first report finds no
    // receiver and the read stops, leaving the link open for the next operation.
    static void readWithNoWindow(WorkerSession& session) {
        session.worker().signal(WorkerRequest::ReadConfig);
        session.worker().runOnePass();
    }

    VirtualClock clock_;
};

TEST_F(WorkerSessionTest, DisconnectedThenEndedNoWindowReachesTheWorkerAndTheBoardIsReleased) {
    WorkerSession session({false, &clock_});
    session.start();
    ASSERT_EQ(K350Worker(), &session.worker());
    readWithNoWindow(session);
    ASSERT_TRUE(session.worker().isLinkOpen());

    session.disconnect();
    EXPECT_EQ(K350Worker(), nullptr);
    EXPECT_TRUE(session.channel().isStopped());
    EXPECT_FALSE(BoardReleased());  // disconnecting alone leaves the board to the end

    session.end();
    EXPECT_TRUE(BoardReleased());
    session.end();  // a second end, as the destructor's, does nothing more
    EXPECT_FALSE(WorkerSession::workerLeftRunning());
}

TEST_F(WorkerSessionTest, ASessionNeverEndedByHandEndsWhenDestroyed) {
    {
        WorkerSession session({false, &clock_});
        session.start();
        readWithNoWindow(session);
    }
    EXPECT_EQ(K350Worker(), nullptr);
    EXPECT_TRUE(BoardReleased());
}

}  // namespace
