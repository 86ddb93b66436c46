// What the file commands and the tree's tasks need of the main window: its log, its child
// windows, and the two operations that change the configuration and what shows it.
#pragma once

#include <QString>
#include <cstdint>

class QWidget;
class TaskWindow;

class ShellWindow {
public:
    // The parent of the commands' dialogs and message boxes.
    virtual QWidget* dialogParent() = 0;
    // A line with the given time prefix (see LogPrefix).
    virtual void appendLog(const QString& prefix, const QString& message) = 0;
    // Wraps a new task window in a child frame, places and shows it.
    virtual void showTaskWindow(TaskWindow* window) = 0;
    virtual void bringToFront(TaskWindow* window) = 0;
    // Takes the 156 bytes of a snapshot as the configuration and shows it.
    virtual void InstallConfig(const std::uint8_t* snapshotBytes) = 0;
    // Closes the task windows and the configuration.
    virtual void CloseDevice() = 0;

protected:
    ~ShellWindow() = default;
};

// The main window's log prefix for the time now: "14:03:27-> ".
QString LogPrefix();
