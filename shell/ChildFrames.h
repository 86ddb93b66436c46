// The task windows as child frames of the client area: how a new one is framed and placed,
// brought to the front, closed with its close handling, or destroyed without it.
#pragma once

#include <QIcon>

class QMdiArea;
class QStyle;
class TaskWindow;

class ChildFrames {
public:
    // The icon stands in for a window that has none of its own.
    ChildFrames(QMdiArea* area, QIcon fallbackIcon);

    // Wraps the window in a frame placed 10 × n pixels from the area's corner (n: the frames
    // already open) and shows it; a fixed window's frame fits it exactly.
    void show(TaskWindow* window);
    static void bringToFront(TaskWindow* window);
    // Each window's own close handling runs.
    void closeAll();
    // None of the windows' close handling runs: at shutdown.
    void destroyAll();
    bool isEmpty() const;

private:
    QMdiArea* area_;
    QIcon fallbackIcon_;
    QStyle* frameStyle_;  // owned by the area
};
