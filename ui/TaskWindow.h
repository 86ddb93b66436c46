// Base of every child window of the main window: registers its global
// reference while it exists, runs its own close handling exactly once, and
// receives the worker's notifications.
#pragma once

#include <QWidget>

#include "ui/WindowRegistry.h"

class TK350;

class TaskWindow : public QWidget, public NotificationReceiver {
    Q_OBJECT
public:
    TaskWindow(WindowId id, QWidget* parent = nullptr);
    ~TaskWindow() override;

    WindowId windowId() const { return id_; }
    void onWorkerNotification(const WorkerNotification&) override {}
    void closeFromWorker() override { closeWindow(); }
    // Closes the window (its MDI frame, when it has one) as the user would.
    void closeWindow();
    bool isClosing() const { return closed_; }
    // Where the main window puts the window when it opens: 10 × n pixels from
    // the client area's corner (n windows open), or the corner itself.
    virtual bool opensAtClientCorner() const { return false; }
    // Most windows have a fixed size: their frame cannot be resized or
    // maximised, only minimised.
    virtual bool hasFixedFrame() const { return true; }
    // Escape closes the window as its "Закрыть" or cancel button does, unless that would lose
    // an edit (or break off a download) without a question.
    virtual bool closesOnEscape() const { return true; }

signals:
    // A line for the main window's log (which adds the time).
    void logLine(const QString& message);

protected:
    // The window's own close handling (withdraw requests, stop timers).
    virtual void formClose() {}
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Signals a request of the worker as this window's own, so the operation
    // talks to this window only; a closed window signals nothing.
    void signalRequest(WorkerRequest request) const;
    // Withdraws a request the worker has not taken yet.
    static void withdrawRequest(WorkerRequest request);

private:
    WindowId id_;
    WindowGeneration generation_;
    bool closed_ = false;
    bool tabOrderSet_ = false;
};

// The worker every window signals; set by the main window (or a test).
TK350* K350Worker();
void SetK350Worker(TK350* worker);
