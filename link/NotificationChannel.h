// The worker's only way back to the windows.
#pragma once

#include "link/LinkTypes.h"

class NotificationChannel {
public:
    virtual ~NotificationChannel() = default;
    // Runs the window's handler on the user-interface thread and waits for it.
    // Returns false ("not delivered") when the window does not exist (its
    // global reference is null at delivery), is of another generation than the
    // one named, or the channel was stopped.
    virtual bool deliver(WindowId to, WindowGeneration generation,
                         WorkerNotification notification) = 0;
    // Closes the window as if the user closed it; false when it does not exist
    // or is of another generation.
    virtual bool requestClose(WindowId to, WindowGeneration generation) = 0;

    bool deliver(WindowId to, WorkerNotification notification) {
        return deliver(to, kAnyGeneration, notification);
    }
    bool requestClose(WindowId to) { return requestClose(to, kAnyGeneration); }
};
