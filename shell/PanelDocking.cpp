#include "shell/PanelDocking.h"

#include <QCursor>
#include <QDockWidget>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>

namespace {
constexpr int kPanelMoveSettleMs = 300;
}  // namespace

PanelDocking::PanelDocking(QMainWindow* window, QDockWidget* panel)
    : QObject(window), window_(window), panel_(panel), moveEnd_(new QTimer(this)) {
    moveEnd_->setSingleShot(true);
    moveEnd_->setInterval(kPanelMoveSettleMs);
    // The window manager moves a floating panel; the drag has ended once it
    // stops moving, and the pointer is then where it was dropped.
    connect(moveEnd_, &QTimer::timeout, this, [this] { dragEnded(QCursor::pos().x()); });
    panel_->installEventFilter(this);
    // While it floats the panel docks back only by the drop rule, not wherever the toolkit
    // would dock it on the way.
    connect(panel_, &QDockWidget::topLevelChanged, this, [this](bool floating) {
        panel_->setAllowedAreas(floating ? Qt::NoDockWidgetArea : Qt::LeftDockWidgetArea);
    });
}

bool PanelDocking::eventFilter(QObject* watched, QEvent* event) {
    if (watched != panel_) return false;
    if (event->type() == QEvent::Move && panel_->isFloating()) moveEnd_->start();
    if (event->type() == QEvent::Close) {
        event->ignore();
        dockBack();
        return true;
    }
    return false;
}

void PanelDocking::dragEnded(int dropScreenX) {
    if (!panel_->isFloating()) return;
    if (dropScreenX > window_->frameGeometry().left()) return;
    dockBack();
}

void PanelDocking::dockBack() {
    if (panel_->isFloating()) {
        panel_->setFloating(false);
        window_->addDockWidget(Qt::LeftDockWidgetArea, panel_);
    }
    panel_->show();
}
