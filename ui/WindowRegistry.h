// The global window references (FDevice, FRead, ...): set by a window when it
// is created, cleared when it closes. User-interface thread only.
#pragma once

#include "link/LinkTypes.h"

class NotificationReceiver {
public:
    virtual ~NotificationReceiver() = default;
    virtual void onWorkerNotification(const WorkerNotification& notification) = 0;
    // The worker's close request: closes the window as the user would.
    virtual void closeFromWorker() = 0;
};

namespace WindowRegistry {
// Makes the window the reference's holder, as a new generation.
WindowGeneration Set(WindowId id, NotificationReceiver* window);
// Clears the reference only if it still names this window.
void Clear(WindowId id, const NotificationReceiver* window);
NotificationReceiver* Get(WindowId id);
// The holder, only when it is of that generation (any holder for kAnyGeneration).
NotificationReceiver* Get(WindowId id, WindowGeneration generation);
template <class T>
T* Find(WindowId id) {
    return dynamic_cast<T*>(Get(id));
}
}  // namespace WindowRegistry
