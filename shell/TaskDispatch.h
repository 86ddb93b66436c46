// What a node of the device tree does when activated: runs a command of the
// main window or opens the node's task window.
#pragma once

#include <QString>

class TFDevice;

class TaskDispatch {
public:
    explicit TaskDispatch(TFDevice& main) : main_(main) {}
    // Does what the node of that caption does; nothing for a group node.
    void activate(const QString& caption);

private:
    TFDevice& main_;
};
