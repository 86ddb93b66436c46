// A worker driven synchronously against one simulated board on a virtual clock:
// tests signal a request and call runOnce(); no thread, no user interface.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "config/Clock.h"
#include "link/K350Task.h"
#include "sim/SimControl.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/VirtualClock.h"

class WorkerFixture : public ::testing::Test {
public:
    using Bytes = std::vector<std::uint8_t>;

    // A receiver that answers "fill in your data" with a TransferData over `bytes`.
    static RecordingChannel::Receiver fillWith(std::shared_ptr<const Bytes> bytes);
    // The main window's receiver: it keeps each snapshot it is given in `installed`, and answers
    // "fill in your data" with the bytes `record` holds at that moment. Both must outlive it.
    static RecordingChannel::Receiver keepSnapshotAndFill(
        Bytes& installed, const std::shared_ptr<const Bytes>& record);

protected:
    // Empty world with one healthy board on bus 0; the main window (FDevice) is open.
    void SetUp() override;
    void TearDown() override;

    // Replaces the world by an empty one (no bus), still on the virtual clock.
    void emptyWorld();
    // Replaces the world by one board with these options on bus 0.
    k350sim::DeviceId useBoard(const k350sim::BoardOptions& options);
    // Signals the request and runs one pass of the worker's loop.
    void runOnce(WorkerRequest request);

    // Values of one notification code delivered to a window, in order.
    std::vector<std::intptr_t> valuesOf(WindowId window, std::uint32_t code) const;

    VirtualClock virtualClock;
    RecordingChannel channel;
    TK350 worker{channel, virtualClock};
    k350sim::DeviceId board = 0;

private:
    void wireClock();
};
