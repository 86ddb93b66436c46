// What a node of the device tree does when activated: runs a command of the
// main window or opens the node's task window.
#pragma once

#include "shell/NodeTask.h"

class TFDevice;

class TaskDispatch {
public:
    explicit TaskDispatch(TFDevice& main) : main_(main) {}
    // Does what a node of that task does; nothing for a group node.
    void activate(NodeTask task);

private:
    TFDevice& main_;
};
