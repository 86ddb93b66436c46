#include "shell/DeviceTree.h"

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "config/RecordRules.h"
#include "shell/Icons.h"
#include "shell/NodeCaptions.h"

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kTaskRole = Qt::UserRole + 2;
constexpr int kUartImage = ImageIndex::Uart;
}  // namespace

void DeviceTree::build(Layout layout, std::uint8_t model) {
    switch (layout) {
        case Layout::NoDevice:
            return buildNoDevice();
        case Layout::Device:
            return buildDevice(model);
        case Layout::Service:
            return buildService(model);
        case Layout::FullService:
            return buildFullService(model);
    }
}

QTreeWidgetItem* DeviceTree::addNode(QTreeWidgetItem* parent, const QString& caption, int image,
                                     NodeTask task) {
    auto* node = parent ? new QTreeWidgetItem(parent, QStringList{caption})
                        : new QTreeWidgetItem(tree_, QStringList{caption});
    node->setIcon(0, ImageListIcon(image));
    node->setData(0, kImageRole, image);
    node->setData(0, kTaskRole, int(task));
    node->setToolTip(0, caption);
    return node;
}

void DeviceTree::buildNoDevice() {
    tree_->clear();
    addNode(addNode(nullptr, NodeCaption::Tasks, ImageIndex::TaskGroup), NodeCaption::Read,
            ImageIndex::Read, NodeTask::Read);
}

void DeviceTree::buildDevice(std::uint8_t model) {
    tree_->clear();
    QTreeWidgetItem* root = addNode(nullptr, "", ImageIndex::Device);
    // Only the two known model bytes name the board; any other leaves the root blank.
    if (model <= 1) root->setText(0, QString::fromLatin1(RecordRules::VariantName(model)));
    root->setToolTip(0, root->text(0));
    QTreeWidgetItem* tasks = addNode(root, NodeCaption::Tasks, ImageIndex::TaskGroup);
    QTreeWidgetItem* devices = addNode(root, NodeCaption::Devices, ImageIndex::DeviceGroup);
    addNode(nullptr, NodeCaption::Information, ImageIndex::Information, NodeTask::Information);
    addNode(tasks, NodeCaption::Read, ImageIndex::Read, NodeTask::Read);
    addNode(tasks, NodeCaption::Write, ImageIndex::Write, NodeTask::Write);
    addNode(tasks, NodeCaption::Statistics, ImageIndex::Statistics, NodeTask::Statistics);
    addNode(devices, NodeCaption::Codec, ImageIndex::Codec, NodeTask::Codec);
    addNode(devices, NodeCaption::Vocoder, ImageIndex::Vocoder, NodeTask::Vocoder);
    addNode(devices, NodeCaption::Recorder, ImageIndex::Recorder, NodeTask::Recorder);
    if (model == 0)
        addNode(devices, NodeCaption::Amplifier, ImageIndex::Amplifier, NodeTask::Amplifier);
}

void DeviceTree::buildService(std::uint8_t model) {
    buildDevice(model);
    if (QTreeWidgetItem* statistics = findItem(NodeCaption::Statistics)) {
        QTreeWidgetItem* parent = statistics->parent();
        auto* firmware = new QTreeWidgetItem(QStringList{NodeCaption::Firmware});
        firmware->setIcon(0, ImageListIcon(ImageIndex::Firmware));
        firmware->setData(0, kImageRole, ImageIndex::Firmware);
        firmware->setData(0, kTaskRole, int(NodeTask::Firmware));
        firmware->setToolTip(0, firmware->text(0));
        parent->insertChild(parent->indexOfChild(statistics), firmware);
    }
}

void DeviceTree::buildFullService(std::uint8_t model) {
    buildService(model);
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    if (!findItem(NodeCaption::Amplifier))
        addNode(findItem(NodeCaption::Devices), NodeCaption::Amplifier, ImageIndex::Amplifier,
                NodeTask::Amplifier);
    QTreeWidgetItem* service = addNode(root, NodeCaption::Service, ImageIndex::ServiceGroup);
    addNode(service, NodeCaption::BoardInfo, ImageIndex::BoardInfo, NodeTask::BoardInfo);
    addNode(service, NodeCaption::Trace, ImageIndex::Trace, NodeTask::Trace);
    // The UART settings are a service function, offered after the trace.
    addNode(service, NodeCaption::Uart, kUartImage, NodeTask::Uart);
}

QTreeWidgetItem* DeviceTree::findItem(const QString& caption) const {
    for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
        if ((*it)->text(0) == caption) return *it;
    }
    return nullptr;
}

int DeviceTree::findNode(const QString& caption) const {
    int index = 0;
    for (QTreeWidgetItemIterator it(tree_); *it; ++it, ++index) {
        if ((*it)->text(0) == caption) return index;
    }
    return -1;
}

void DeviceTree::setNodeImage(const QString& caption, int image) {
    if (QTreeWidgetItem* node = findItem(caption)) {
        node->setIcon(0, ImageListIcon(image));
        node->setData(0, kImageRole, image);
    }
}

int DeviceTree::nodeImage(const QTreeWidgetItem* node) {
    return node ? node->data(0, kImageRole).toInt() : -1;
}

NodeTask DeviceTree::selectedTask() const {
    QTreeWidgetItem* selected = tree_->currentItem();
    return selected && selected->isSelected() ? NodeTask(selected->data(0, kTaskRole).toInt())
                                              : NodeTask::None;
}
