// The device tree of the main window: its four layouts, the lookup of its nodes by caption, and
// the task each node runs.
#pragma once

#include <QString>
#include <cstdint>

#include "shell/NodeTask.h"

class QTreeWidget;
class QTreeWidgetItem;

class DeviceTree {
public:
    // Without a configuration; and with one, at the user, service and full
    // service levels.
    enum class Layout { NoDevice, Device, Service, FullService };

    explicit DeviceTree(QTreeWidget* widget) : tree_(widget) {}

    // Builds the layout anew; `model` is the configuration's model byte.
    void build(Layout layout, std::uint8_t model);
    // Index in display order (each node before its children), -1 when there is none.
    int findNode(const QString& caption) const;
    QTreeWidgetItem* findItem(const QString& caption) const;
    void setNodeImage(const QString& caption, int image);
    static int nodeImage(const QTreeWidgetItem* node);
    // The task of the selected node; None when none is selected.
    NodeTask selectedTask() const;

private:
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& caption, int image,
                             NodeTask task = NodeTask::None);
    void buildNoDevice();
    void buildDevice(std::uint8_t model);
    void buildService(std::uint8_t model);
    void buildFullService(std::uint8_t model);

    QTreeWidget* tree_;
};
