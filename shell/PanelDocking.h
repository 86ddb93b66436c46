// The docking of the device panel: it floats when dragged out, docks back at the left edge only
// when dropped at or left of the main window's left edge, and a window manager's close docks it
// back instead of hiding it (most windows are reached only through the tree).
#pragma once

#include <QObject>

class QDockWidget;
class QMainWindow;
class QTimer;

class PanelDocking : public QObject {
public:
    PanelDocking(QMainWindow* window, QDockWidget* panel);

    // The end of a drag: a drop at or left of the window's left edge (screen x) docks it back.
    void dragEnded(int dropScreenX);
    void dockBack();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMainWindow* window_;
    QDockWidget* panel_;
    QTimer* moveEnd_;
};
