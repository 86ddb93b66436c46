#include "shell/QtChannel.h"

#include <QThread>
#include <condition_variable>

#include "ui/WindowRegistry.h"

// One delivery handed to the user-interface thread. Whoever moves it out of
// Pending (the user-interface thread starting it, or stop() cancelling it)
// decides its outcome.
struct QtChannel::Call {
    enum class State { Pending, Running, Done };
    std::mutex mutex;
    std::condition_variable finished;
    State state = State::Pending;
    bool delivered = false;

    bool start() {
        std::lock_guard lock(mutex);
        if (state != State::Pending) return false;
        state = State::Running;
        return true;
    }
    void finish(bool result) {
        {
            std::lock_guard lock(mutex);
            delivered = result;
            state = State::Done;
        }
        finished.notify_all();
    }
    void cancel() {
        std::unique_lock lock(mutex);
        if (state != State::Pending) return;
        state = State::Done;
        lock.unlock();
        finished.notify_all();
    }
    bool wait() {
        std::unique_lock lock(mutex);
        finished.wait(lock, [this] { return state == State::Done; });
        return delivered;
    }
};

bool QtChannel::runOnUiThread(const std::function<bool()>& handler) {
    if (stopped_.load()) return false;
    // Tests may drive the worker on the user-interface thread itself.
    if (QThread::currentThread() == thread()) return handler();

    auto call = std::make_shared<Call>();
    {
        std::lock_guard lock(pendingMutex_);
        if (stopped_.load()) return false;
        pending_.insert(call);
    }
    // The handler lives on the worker's stack: it is touched only while the
    // worker still waits, that is, only by a call that started.
    QMetaObject::invokeMethod(
        this,
        [this, call, &handler] {
            if (!call->start()) return;
            call->finish(!stopped_.load() && handler());
        },
        Qt::QueuedConnection);
    const bool delivered = call->wait();
    std::lock_guard lock(pendingMutex_);
    pending_.erase(call);
    return delivered;
}

void QtChannel::stop() {
    std::lock_guard lock(pendingMutex_);
    stopped_.store(true);
    for (const auto& call : pending_) call->cancel();
}

bool QtChannel::deliver(WindowId to, WindowGeneration generation, WorkerNotification notification) {
    return runOnUiThread([to, generation, notification] {
        NotificationReceiver* window = WindowRegistry::Get(to, generation);
        if (!window) return false;
        window->onWorkerNotification(notification);
        return true;
    });
}

bool QtChannel::requestClose(WindowId to, WindowGeneration generation) {
    return runOnUiThread([to, generation] {
        NotificationReceiver* window = WindowRegistry::Get(to, generation);
        if (!window) return false;
        window->closeFromWorker();
        return true;
    });
}
