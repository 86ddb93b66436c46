// Helpers of the robustness tests with the real windows: opening the window of
// each worker operation as a person would, and a tap that closes a window right
// after one of its notifications.
#pragma once

#include <QPointer>
#include <QString>
#include <cstdint>
#include <limits>
#include <vector>

#include "link/LinkTypes.h"
#include "ui/TaskWindow.h"
#include "ui/WindowRegistry.h"

class TFDevice;
class FakeDialogs;

#include "tests/support/RobustOperations.h"

namespace robust {

// Opens the operation's window in the main window and leaves exactly its request
// signalled. The main window must hold a configuration and be at full service
// level; `firmwarePath` names the image the firmware window loads.
void openOperation(TFDevice& device, FakeDialogs& dialogs, const WindowOperation& operation,
                   const QString& firmwarePath);

// Stands in for one window in the registry and passes every notification on to it;
// after the `closeAfter`-th notification it closes the window and destroys it at once,
// before the worker goes on. Records what the window was sent.
class WindowTap : public NotificationReceiver {
public:
    static constexpr int kNever = std::numeric_limits<int>::max();
    WindowTap(WindowId id, int closeAfter = kNever);
    ~WindowTap() override;
    WindowTap(const WindowTap&) = delete;
    WindowTap& operator=(const WindowTap&) = delete;

    void onWorkerNotification(const WorkerNotification& notification) override;
    void closeFromWorker() override;

    bool hasWindow() const { return !target_.isNull(); }
    const std::vector<std::uint32_t>& codes() const { return codes_; }
    bool closeRequested() const { return closeRequested_; }

private:
    void destroyWindow();

    WindowId id_;
    int closeAfter_;
    QPointer<TaskWindow> target_;
    std::vector<std::uint32_t> codes_;
    bool closeRequested_ = false;
};

}  // namespace robust
