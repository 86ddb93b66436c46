#include "shell/QtChannel.h"

#include <QThread>

#include "shell/WindowRegistry.h"

bool QtChannel::runOnUiThread(const std::function<bool()>& handler) {
    if (stopped_.load()) return false;
    auto guarded = [this, &handler] { return !stopped_.load() && handler(); };
    // Tests may drive the worker on the user-interface thread itself.
    if (QThread::currentThread() == thread()) return guarded();
    bool delivered = false;
    QMetaObject::invokeMethod(
        this, [&] { delivered = guarded(); }, Qt::BlockingQueuedConnection);
    return delivered;
}

bool QtChannel::deliver(WindowId to, WorkerNotification notification) {
    return runOnUiThread([to, notification] {
        NotificationReceiver* window = WindowRegistry::get(to);
        if (!window) return false;
        window->onWorkerNotification(notification);
        return true;
    });
}

bool QtChannel::requestClose(WindowId to) {
    return runOnUiThread([to] {
        NotificationReceiver* window = WindowRegistry::get(to);
        if (!window) return false;
        window->closeFromWorker();
        return true;
    });
}
