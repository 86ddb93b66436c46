// What the screenshot tools share: opening a window through the device tree and
// running the worker on the tools' own thread, as the worker thread would.
#pragma once

#include <QApplication>
#include <QString>
#include <QTreeWidget>

#include "shell/DeviceForm.h"

inline void activate(TFDevice& window, const QString& caption) {
    const auto found = window.tree()->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty()) return;
    window.tree()->setCurrentItem(found.first());
    window.activateSelectedNode();
}

// Runs what the windows asked of the worker, on this thread.
inline void runWorker(TFDevice& window) {
    while (window.session().worker().runOnePass()) QApplication::processEvents();
}

// The main window at the pictures' size, with the simulated board's configuration read.
inline void showWithConfigurationRead(TFDevice& window) {
    window.resize(1180, 760);
    window.show();
    window.MTaskGetClick();
    runWorker(window);
}
