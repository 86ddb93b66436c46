// The terminal's worker and the Qt channel it reports through: created with the main window,
// started at once, and ended when the main window closes without waiting for a transfer that
// does not finish.
#pragma once

#include <memory>

#include "config/Clock.h"
#include "link/K350Task.h"
#include "shell/QtChannel.h"

class WorkerSession {
public:
    struct Options {
        bool startWorker = true;  // tests drive the worker by hand on this thread
        // The worker's clock, owned by the caller, who keeps it until the worker
        // has ended; the worker's own system clock when null.
        Clock* clock = nullptr;
    };
    explicit WorkerSession(Options options);
    ~WorkerSession();
    WorkerSession(const WorkerSession&) = delete;
    WorkerSession& operator=(const WorkerSession&) = delete;

    TK350& worker() { return *worker_; }
    QtChannel& channel() { return *channel_; }

    // Makes the worker the one every window signals, and starts its thread unless the
    // options keep it on the caller's.
    void start();
    // From now on no window is reached and none can signal: before the windows are destroyed.
    void disconnect();
    // Asks the worker to stop and gives it a bounded time to release the board; a worker
    // still inside a transfer is left to itself. Disconnects first if that was not done.
    void end();
    // True once an end had to leave the worker inside a transfer: the process
    // should then end without running static destructors under it.
    static bool workerLeftRunning();

private:
    bool startThread_;
    std::shared_ptr<QtChannel> channel_;
    std::unique_ptr<TK350> worker_;
    bool ended_ = false;
};
