#include <QTreeWidget>

#include "shell/DeviceForm.h"
#include "shell/Icons.h"

// Placeholder: only the layout without a device so far.
void TFDevice::BuildTree() {
    tree()->clear();
    auto* tasks = new QTreeWidgetItem(tree(), QStringList{"Задачи"});
    tasks->setIcon(0, ImageListIcon(ImageIndex::TaskGroup));
    auto* read = new QTreeWidgetItem(tasks, QStringList{"Прочитать"});
    read->setIcon(0, ImageListIcon(ImageIndex::Read));
}
