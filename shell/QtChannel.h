// Delivers the worker's notifications on the user-interface thread and waits
// for them (a blocking queued call). The window is looked up at delivery, so
// none can close between the check and the call.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>

#include "link/NotificationChannel.h"

class QtChannel : public QObject, public NotificationChannel {
    Q_OBJECT
public:
    explicit QtChannel(QObject* parent = nullptr) : QObject(parent) {}
    bool deliver(WindowId to, WorkerNotification notification) override;
    bool requestClose(WindowId to) override;
    // From now on nothing is delivered; a call already queued is answered
    // "not delivered" as soon as the user-interface thread gets to it.
    void stop() { stopped_.store(true); }
    bool isStopped() const { return stopped_.load(); }

private:
    bool runOnUiThread(const std::function<bool()>& handler);
    std::atomic<bool> stopped_{false};
};
