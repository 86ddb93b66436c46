// Runs k350ctl in-process against simulated boards on a virtual clock, and drives the worker as
// the terminal does for the same task, so tests can compare the two transfer logs.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "config/Clock.h"
#include "link/K350Task.h"
#include "sim/SimControl.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/VirtualClock.h"

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// One transfer as the board saw it, without device numbers and times.
struct WireTransfer {
    k350sim::TransferKind kind;
    int endpoint;
    k350sim::Bytes data;
    int size;
    int timeoutMs;
    bool operator==(const WireTransfer&) const = default;
};

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // An empty world of one bus with `count` healthy boards, die IDs ending in 01, 02, ...
    std::vector<k350sim::DeviceId> plugBoards(int count, const k350sim::BoardOptions& options = {});
    static k350sim::Id8 dieIdFor(int index);

    CliRun run(const std::vector<std::string>& arguments, bool terminal = false);
    // The transfers one board saw since the log was last cleared.
    static std::vector<WireTransfer> wireOf(k350sim::DeviceId board);

    // The worker driven as the terminal drives it: the windows the operation addresses are
    // open, `fill` answers "fill in your data"; the exit sequence runs at the end.
    void runAsTerminal(WorkerRequest request, std::vector<WindowId> windows,
                       RecordingChannel::Receiver fill = {});
    // The same with several requests: drive signals and runs them on the worker.
    void runAsTerminal(const std::function<void(TK350&)>& drive, std::vector<WindowId> windows,
                       RecordingChannel::Receiver fill = {});
    // A receiver that answers "fill in your data" with a TransferData over bytes.
    static RecordingChannel::Receiver fillWith(std::shared_ptr<const k350sim::Bytes> bytes);
    static void runRequest(TK350& worker, WorkerRequest request);

    std::string tempPath(const std::string& name) const { return folder_->file(name); }

    VirtualClock clock;
    std::map<std::string, std::string> variables;
    std::atomic<bool> interrupted{false};
    std::atomic<int> stopSignal{0};  // the signal that set interrupted; 0 for SIGINT

private:
    std::unique_ptr<TemporaryFolder> folder_;
};
