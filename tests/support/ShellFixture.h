// The main window as a person at the terminal uses it, on a virtual clock, with
// scripted dialogs and one simulated board on the bus. By default the worker
// runs on the test's thread: runWorker() performs what is signalled,
// notifications included. End-to-end tests start the real worker thread.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <memory>

#include "config/Clock.h"
#include "shell/DeviceForm.h"
#include "sim/SimControl.h"
#include "tests/support/FakeDialogs.h"
#include "tests/support/VirtualClock.h"

class QAction;
class QMdiSubWindow;
class QTreeWidget;
class QTreeWidgetItem;

// The first node with this caption in display order, or null.
QTreeWidgetItem* FindNode(const QTreeWidget& tree, const QString& caption);
// Selects the node and opens what it stands for, as Enter on the tree does; false when the tree
// has no such node.
bool ActivateNode(TFDevice& window, const QString& caption);

class ShellFixture : public ::testing::Test {
protected:
    explicit ShellFixture(bool realWorkerThread = false);
    ~ShellFixture() override;

    TFDevice& window() { return *window_; }
    // Runs signalled worker requests, lowest first, until none is left.
    void runWorker(int maxPasses = 20);
    // Triggers a menu item or toolbar button by its object name (MFileOpen, MButtonSave, ...).
    void trigger(const char* actionName);
    QAction* action(const char* actionName) const;
    // The first node with this caption in display order, or null.
    QTreeWidgetItem* node(const QString& caption) const;
    // ActivateNode with the events processed after it: the active frame then, null when the
    // tree has no such node (which fails the test).
    QMdiSubWindow* openNode(const QString& caption);
    // Selects the node and double-clicks it, as a person would.
    void doubleClickNode(const QString& caption);
    // Selects the node and presses a key on the tree.
    void pressKeyOnNode(const QString& caption, int key);
    // The tree as indented lines: "caption (image)", two blanks per level.
    QString treeText() const;
    // Puts a configuration with this model byte into the window, as a file load would.
    void installConfig(std::uint8_t model);
    // Writes bytes to a file in the test's temporary folder; returns its path.
    QString writeFile(const QString& name, const std::vector<std::uint8_t>& bytes);
    QString tempPath(const QString& name) const;
    std::vector<std::uint8_t> readFile(const QString& path) const;
    int openWindowCount() const;

    VirtualClock clock_;
    FakeDialogs dialogs_;
    k350sim::DeviceId board_ = 0;

private:
    std::unique_ptr<TFDevice> window_;
    QString tempDir_;
};
