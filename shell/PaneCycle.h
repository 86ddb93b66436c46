// F6 and Shift+F6 move the keyboard between the panes of the main window, as desktop programs
// do: the device tree, the active task window and the log, and round again. A pane that is not
// there (no task window open) is passed over.
#pragma once

#include <QList>
#include <QObject>

class QMainWindow;
class QMdiArea;
class QWidget;

class PaneCycle : public QObject {
    Q_OBJECT
public:
    PaneCycle(QMainWindow* window, QWidget* tree, QMdiArea* area, QWidget* log);

    void next() { step(+1); }
    void previous() { step(-1); }

private:
    enum Pane { Tree, TaskWindow, Log, PaneCount };
    void step(int direction);
    int paneWithFocus() const;
    bool isThere(int pane) const;
    void focus(int pane);
    void focusTaskWindow();

    QWidget* tree_;
    QMdiArea* area_;
    QWidget* log_;
};
