#include "tests/support/CliFixture.h"

#include <cstdlib>
#include <filesystem>

#include "tests/support/SimBoards.h"
#include "tests/support/SimTime.h"
#include "tests/support/WorkerFixture.h"

void CliFixture::SetUp() {
    folder_ = std::make_unique<TemporaryFolder>("k350ctl-test");
    k350sim::reset();
    RunSimOnClock(clock);
}

void CliFixture::TearDown() {
    ReleaseSim();
    folder_.reset();
}

k350sim::Id8 CliFixture::dieIdFor(int index) {
    return BoardDieId(index);
}

std::vector<k350sim::DeviceId> CliFixture::plugBoards(int count,
                                                      const k350sim::BoardOptions& options) {
    std::vector<k350sim::DeviceId> boards = PlugBoards(count, options);
    RunSimOnClock(clock);
    return boards;
}

CliRun CliFixture::run(const std::vector<std::string>& arguments, bool terminal) {
    std::ostringstream out, err;
    Environment environment{out,
                            err,
                            terminal,
                            clock,
                            [this](const char* name) -> const char* {
                                auto found = variables.find(name);
                                return found == variables.end() ? nullptr : found->second.c_str();
                            },
                            &interrupted,
                            &stopSignal};
    CliRun result;
    result.status = RunK350ctl(arguments, environment);
    result.out = out.str();
    result.err = err.str();
    return result;
}

std::vector<WireTransfer> CliFixture::wireOf(k350sim::DeviceId board) {
    std::vector<WireTransfer> wire;
    for (const auto& entry : k350sim::transferLog()) {
        if (entry.device != board) continue;
        wire.push_back({entry.kind, entry.endpoint, entry.data, entry.size, entry.timeoutMs});
    }
    return wire;
}

void CliFixture::runAsTerminal(WorkerRequest request, std::vector<WindowId> windows,
                               RecordingChannel::Receiver fill) {
    runAsTerminal([request](TK350& worker) { runRequest(worker, request); }, std::move(windows),
                  std::move(fill));
}

void CliFixture::runAsTerminal(const std::function<void(TK350&)>& drive,
                               std::vector<WindowId> windows, RecordingChannel::Receiver fill) {
    RecordingChannel channel;
    channel.open(WindowId::FDevice, fill);
    for (WindowId window : windows) channel.open(window, fill);
    TK350 worker(channel, clock);
    drive(worker);
    worker.runExitSequence();
}

void CliFixture::runRequest(TK350& worker, WorkerRequest request) {
    worker.signal(request);
    worker.runOnePass();
}

RecordingChannel::Receiver CliFixture::fillWith(std::shared_ptr<const k350sim::Bytes> bytes) {
    return WorkerFixture::fillWith(std::move(bytes));
}
