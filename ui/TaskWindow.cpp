#include "ui/TaskWindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMdiSubWindow>

#include "link/K350Task.h"
#include "ui/ReadingOrder.h"

namespace {
TK350* currentWorker = nullptr;
}

TK350* K350Worker() {
    return currentWorker;
}
void SetK350Worker(TK350* worker) {
    currentWorker = worker;
}

TaskWindow::TaskWindow(WindowId id, QWidget* parent)
    : QWidget(parent), id_(id), generation_(WindowRegistry::Set(id_, this)) {}

TaskWindow::~TaskWindow() {
    WindowRegistry::Clear(id_, this);
}

void TaskWindow::signalRequest(WorkerRequest request) const {
    if (closed_) return;
    if (TK350* k350 = K350Worker()) k350->signal(request, generation_);
}

void TaskWindow::withdrawRequest(WorkerRequest request) {
    if (TK350* k350 = K350Worker()) k350->reset(request);
}

void TaskWindow::closeWindow() {
    if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        frame->close();
    } else {
        close();
    }
}

void TaskWindow::closeEvent(QCloseEvent* event) {
    if (!closed_) {
        closed_ = true;
        formClose();
        WindowRegistry::Clear(id_, this);
    }
    // The MDI frame deletes itself and this window on close; a window without
    // a frame (in tests) stays with its owner.
    event->accept();
}

void TaskWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (closesOnEscape()) closeWindow();
        return event->accept();
    }
    QWidget::keyPressEvent(event);
}

// Once the window is built whole, whatever order its parts were made in.
void TaskWindow::showEvent(QShowEvent* event) {
    if (!tabOrderSet_) {
        tabOrderSet_ = true;
        SetReadingTabOrder(this);
    }
    QWidget::showEvent(event);
}
