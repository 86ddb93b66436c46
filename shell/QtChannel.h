// Delivers the worker's notifications on the user-interface thread and waits
// for them. The window is looked up at delivery, so none can close between the
// check and the call.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "link/NotificationChannel.h"

class QtChannel : public QObject, public NotificationChannel {
    Q_OBJECT
public:
    explicit QtChannel(QObject* parent = nullptr) : QObject(parent) {}
    using NotificationChannel::deliver;
    using NotificationChannel::requestClose;
    bool deliver(WindowId to, WindowGeneration generation,
                 WorkerNotification notification) override;
    bool requestClose(WindowId to, WindowGeneration generation) override;
    // From now on nothing is delivered. A call queued but not yet started is
    // answered "not delivered" at once, so the worker never waits on a
    // user-interface thread that is quitting; one already running finishes.
    void stop();
    bool isStopped() const { return stopped_.load(); }

private:
    struct Call;
    bool runOnUiThread(const std::function<bool()>& handler);
    std::atomic<bool> stopped_{false};
    std::mutex pendingMutex_;
    std::set<std::shared_ptr<Call>> pending_;
};
