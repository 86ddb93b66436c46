// What a node of the device tree does when activated: runs a file command or
// opens the node's task window, handing it its part of the document.
#pragma once

#include "shell/NodeTask.h"

class ConfigDocument;
class FileCommands;
class ShellWindow;

class TaskDispatch {
public:
    // What a task works with.
    struct Context {
        ShellWindow& window;
        ConfigDocument& document;
        FileCommands& files;
    };

    TaskDispatch(ShellWindow& window, ConfigDocument& document, FileCommands& files)
        : context_{window, document, files} {}
    // Does what a node of that task does; nothing for a group node.
    void activate(NodeTask task);

private:
    Context context_;
};
