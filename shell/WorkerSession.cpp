#include "shell/WorkerSession.h"

#include <atomic>
#include <chrono>

#include "ui/TaskWindow.h"

namespace {
// How long the end waits for the worker to release the board.
constexpr std::chrono::milliseconds kWorkerExitWait{1200};
std::atomic<bool> workerLeftToItself{false};

// The worker shares its clock and channel, so both outlive it even when the end has to leave
// it inside a transfer.
std::shared_ptr<Clock> sharedClock(Clock* given) {
    if (given) return std::shared_ptr<Clock>(given, [](Clock*) {});
    return std::make_shared<SystemClock>();
}
}  // namespace

WorkerSession::WorkerSession(Options options)
    : startThread_(options.startWorker),
      channel_(std::make_shared<QtChannel>()),
      worker_(std::make_unique<TK350>(channel_, sharedClock(options.clock))) {}

WorkerSession::~WorkerSession() {
    end();
}

void WorkerSession::start() {
    SetK350Worker(worker_.get());
    if (startThread_) worker_->start();
}

void WorkerSession::disconnect() {
    if (!channel_) return;
    channel_->stop();
    if (K350Worker() == worker_.get()) SetK350Worker(nullptr);
}

void WorkerSession::end() {
    if (ended_) return;
    ended_ = true;
    disconnect();
    worker_->requestStop();
    if (!worker_->isRunning()) {
        worker_->runExitSequence();  // a worker driven by hand still releases the board
    } else if (!worker_->waitForExit(kWorkerExitWait)) {
        // Still inside a transfer: let the process end without it rather than
        // hang. The worker keeps its channel and clock alive itself.
        worker_->detach();
        (void)worker_.release();
        workerLeftToItself.store(true);
        return;
    }
    worker_.reset();
    channel_.reset();
}

bool WorkerSession::workerLeftRunning() {
    return workerLeftToItself.load();
}
