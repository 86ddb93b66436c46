#include "shell/PaneCycle.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace {
bool holds(const QWidget* pane, const QWidget* widget) {
    return widget && (widget == pane || pane->isAncestorOf(widget));
}

// The control a window gave the keyboard to last, or its first one in tab order.
QWidget* controlToFocus(QWidget* window) {
    if (QWidget* last = window->focusWidget(); last && window->isAncestorOf(last)) return last;
    for (QWidget* next = window->nextInFocusChain(); next && next != window;
         next = next->nextInFocusChain()) {
        if (window->isAncestorOf(next) && next->isVisible() && next->isEnabled() &&
            (next->focusPolicy() & Qt::TabFocus)) {
            return next;
        }
    }
    return window;
}
}  // namespace

PaneCycle::PaneCycle(QMainWindow* window, QWidget* tree, QMdiArea* area, QWidget* log)
    : QObject(window), tree_(tree), area_(area), log_(log) {
    const auto addKey = [window](const char* name, QKeySequence key, auto handler) {
        auto* action = new QAction(window);
        action->setObjectName(name);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(action, &QAction::triggered, window, handler);
        window->addAction(action);
    };
    addKey("NextPane", QKeySequence(Qt::Key_F6), [this] { next(); });
    addKey("PreviousPane", QKeySequence(Qt::SHIFT | Qt::Key_F6), [this] { previous(); });
}

void PaneCycle::step(int direction) {
    int pane = paneWithFocus();
    // From outside the panes (the menu bar, a toolbar) F6 begins at the tree, Shift+F6 at the log.
    if (pane < 0) pane = direction > 0 ? PaneCount - 1 : 0;
    for (int tried = 0; tried < PaneCount; ++tried) {
        pane = (pane + direction + PaneCount) % PaneCount;
        if (isThere(pane)) return focus(pane);
    }
}

int PaneCycle::paneWithFocus() const {
    const QWidget* focused = QApplication::focusWidget();
    if (holds(tree_, focused)) return Tree;
    if (holds(area_, focused)) return TaskWindow;
    if (holds(log_, focused)) return Log;
    return -1;
}

bool PaneCycle::isThere(int pane) const {
    switch (pane) {
        case Tree:
            return tree_->isVisible();
        case TaskWindow:
            return !area_->subWindowList().isEmpty();
        default:
            return log_->isVisible();
    }
}

void PaneCycle::focus(int pane) {
    switch (pane) {
        case Tree:
            tree_->activateWindow();  // the panel may float in a window of its own
            tree_->setFocus(Qt::TabFocusReason);
            return;
        case TaskWindow:
            return focusTaskWindow();
        default:
            log_->window()->activateWindow();
            log_->setFocus(Qt::TabFocusReason);
    }
}

// The window last active, where the keyboard was in it.
void PaneCycle::focusTaskWindow() {
    QMdiSubWindow* frame =
        area_->activeSubWindow() ? area_->activeSubWindow() : area_->currentSubWindow();
    if (!frame) frame = area_->subWindowList(QMdiArea::ActivationHistoryOrder).last();
    area_->window()->activateWindow();
    if (frame->isMinimized()) frame->showNormal();
    area_->setActiveSubWindow(frame);
    if (QWidget* window = frame->widget(); window && !holds(window, QApplication::focusWidget())) {
        controlToFocus(window)->setFocus(Qt::TabFocusReason);
    }
}
