// The device tree: its four layouts, node lookup, activation and the dispatch
// of a node to its task window; the docking rule of the device panel.
#include <QCursor>
#include <QDate>
#include <QDockWidget>
#include <QKeyEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "config/RecordDate.h"
#include "config/RecordRules.h"
#include "editors/AudioForm.h"
#include "editors/CodecForm.h"
#include "editors/FormUart.h"
#include "editors/RecoderForm.h"
#include "editors/VocoderForm.h"
#include "monitor/BoardForm.h"
#include "monitor/FormInfo.h"
#include "monitor/ReportForm.h"
#include "monitor/TraceForm.h"
#include "shell/DeviceForm.h"
#include "shell/Icons.h"
#include "shell/NodeCaptions.h"
#include "transfer/FlashForm.h"
#include "ui/TaskWindow.h"

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kPanelMoveSettleMs = 300;
constexpr int kUartImage = ImageIndex::Uart;

// At most one window per class: an open one only comes to the front; a new one
// is loaded (load returns false when it cannot run) and then shown.
template <class Window, class Load>
void openTaskWindow(TFDevice& main, WindowId id, Load load) {
    if (auto* open = WindowRegistry::find<Window>(id)) return TFDevice::bringToFront(open);
    auto* window = new Window;
    // A window closed while it was being loaded is never shown.
    if (!load(*window) || window->isClosing()) {
        delete window;
        return;
    }
    main.showTaskWindow(window);
}

template <class Window>
void openTaskWindow(TFDevice& main, WindowId id) {
    openTaskWindow<Window>(main, id, [](Window&) { return true; });
}

std::uint8_t* at(TFDevice& main, std::size_t offset) {
    return main.config().data() + offset;
}

struct DispatchEntry {
    const char* caption;
    void (*activate)(TFDevice& main);
};

const DispatchEntry kDispatch[] = {
    {NodeCaption::Read, [](TFDevice& m) { m.MTaskGetClick(); }},
    {NodeCaption::Write, [](TFDevice& m) { m.MTaskSetClick(); }},
    {NodeCaption::Firmware,
     [](TFDevice& m) {
         openTaskWindow<TFFlash>(m, WindowId::FFlash,
                                 [](TFFlash& w) { return w.LoadImageAndStart(); });
     }},
    {NodeCaption::Statistics, [](TFDevice& m) { openTaskWindow<TFReport>(m, WindowId::FReport); }},
    {NodeCaption::Codec,
     [](TFDevice& m) {
         openTaskWindow<TFCodec>(m, WindowId::FCodec, [&m](TFCodec& w) {
             w.LoadSettings(m.modelByte(), at(m, ConfigOffset::Codec));
             return true;
         });
     }},
    {NodeCaption::Vocoder,
     [](TFDevice& m) {
         openTaskWindow<TFVocoder>(m, WindowId::FVocoder, [&m](TFVocoder& w) {
             w.LoadSettings(at(m, ConfigOffset::Vocoder));
             return true;
         });
     }},
    {NodeCaption::Recorder,
     [](TFDevice& m) {
         openTaskWindow<TFRecoder>(m, WindowId::FRecoder, [&m](TFRecoder& w) {
             w.LoadSettings(m.modelByte(), at(m, ConfigOffset::Recorder));
             return true;
         });
     }},
    {NodeCaption::Amplifier,
     [](TFDevice& m) {
         openTaskWindow<TFAudio>(m, WindowId::FAudio, [&m](TFAudio& w) {
             w.LoadSettings(at(m, ConfigOffset::Amplifier));
             return true;
         });
     }},
    {NodeCaption::Information,
     [](TFDevice& m) {
         RefreshCrc(m.crc(), m.config());  // also when the window is already open
         openTaskWindow<TFInfo>(m, WindowId::FInfo, [&m](TFInfo& w) {
             w.LoadSettings(at(m, ConfigOffset::BoardInfo), at(m, ConfigOffset::DieId),
                            StoredCrc(m.config()), std::uint32_t(kSnapshotSize));
             return true;
         });
     }},
    {NodeCaption::BoardInfo,
     [](TFDevice& m) {
         openTaskWindow<TFBoard>(m, WindowId::FBoard, [&m](TFBoard& w) {
             w.LoadSettings(at(m, ConfigOffset::BoardInfo));
             return true;
         });
     }},
    {NodeCaption::Trace, [](TFDevice& m) { openTaskWindow<TFTrace>(m, WindowId::FTrace); }},
    {NodeCaption::Uart,
     [](TFDevice& m) {
         openTaskWindow<TFUart>(m, WindowId::FUart, [&m](TFUart& w) {
             w.LoadSettings(at(m, ConfigOffset::Uart));
             return true;
         });
     }},
};
}  // namespace

// --- layouts -----------------------------------------------------------------

void TFDevice::BuildTree() {
    const bool present = hasConfig_;
    if (serviceLevel_ == ServiceLevel::FullService && !present) makeBlankConfig();
    treeDev_->setUpdatesEnabled(false);
    if (!hasConfig_) {
        BuildNoDeviceTree();
    } else if (serviceLevel_ == ServiceLevel::FullService) {
        BuildFullServiceTree();
    } else if (serviceLevel_ == ServiceLevel::Service) {
        BuildServiceTree();
    } else {
        BuildDeviceTree();
    }
    treeDev_->setUpdatesEnabled(true);
}

// The blank snapshot goes into the existing storage, like any installed one.
void TFDevice::makeBlankConfig() {
    const QDate today = QDate::currentDate();
    const ConfigSnapshot blank =
        MakeBlankSnapshot(*crc_, FormatRecordDate({today.day(), today.month(), today.year()}));
    *config_ = blank;
    hasConfig_ = true;
    MFileSaveAs->setEnabled(true);
}

QTreeWidgetItem* TFDevice::addNode(QTreeWidgetItem* parent, const QString& caption, int image) {
    auto* node = parent ? new QTreeWidgetItem(parent, QStringList{caption})
                        : new QTreeWidgetItem(treeDev_, QStringList{caption});
    node->setIcon(0, ImageListIcon(image));
    node->setData(0, kImageRole, image);
    node->setToolTip(0, caption);
    return node;
}

void TFDevice::BuildNoDeviceTree() {
    treeDev_->clear();
    restoreLevelMarks();
    addNode(addNode(nullptr, NodeCaption::Tasks, ImageIndex::TaskGroup), NodeCaption::Read,
            ImageIndex::Read);
}

void TFDevice::BuildDeviceTree() {
    const std::uint8_t model = modelByte();
    setLevelMarks(true);
    treeDev_->clear();
    QTreeWidgetItem* root = addNode(nullptr, "", ImageIndex::Device);
    // Only the two known model bytes name the board; any other leaves the root blank.
    if (model <= 1) root->setText(0, QString::fromLatin1(VariantName(model)));
    root->setToolTip(0, root->text(0));
    QTreeWidgetItem* tasks = addNode(root, NodeCaption::Tasks, ImageIndex::TaskGroup);
    QTreeWidgetItem* devices = addNode(root, NodeCaption::Devices, ImageIndex::DeviceGroup);
    addNode(nullptr, NodeCaption::Information, ImageIndex::Information);
    addNode(tasks, NodeCaption::Read, ImageIndex::Read);
    addNode(tasks, NodeCaption::Write, ImageIndex::Write);
    addNode(tasks, NodeCaption::Statistics, ImageIndex::Statistics);
    addNode(devices, NodeCaption::Codec, ImageIndex::Codec);
    addNode(devices, NodeCaption::Vocoder, ImageIndex::Vocoder);
    addNode(devices, NodeCaption::Recorder, ImageIndex::Recorder);
    if (model == 0) addNode(devices, NodeCaption::Amplifier, ImageIndex::Amplifier);
}

void TFDevice::BuildServiceTree() {
    BuildDeviceTree();
    setLevelMarks(false);
    if (QTreeWidgetItem* statistics = findItem(NodeCaption::Statistics)) {
        QTreeWidgetItem* parent = statistics->parent();
        auto* firmware = new QTreeWidgetItem(QStringList{NodeCaption::Firmware});
        firmware->setIcon(0, ImageListIcon(ImageIndex::Firmware));
        firmware->setData(0, kImageRole, ImageIndex::Firmware);
        firmware->setToolTip(0, firmware->text(0));
        parent->insertChild(parent->indexOfChild(statistics), firmware);
    }
}

void TFDevice::BuildFullServiceTree() {
    BuildServiceTree();
    QTreeWidgetItem* root = treeDev_->topLevelItem(0);
    if (!findItem(NodeCaption::Amplifier))
        addNode(findItem(NodeCaption::Devices), NodeCaption::Amplifier, ImageIndex::Amplifier);
    QTreeWidgetItem* service = addNode(root, NodeCaption::Service, ImageIndex::ServiceGroup);
    addNode(service, NodeCaption::BoardInfo, ImageIndex::BoardInfo);
    addNode(service, NodeCaption::Trace, ImageIndex::Trace);
    // The UART settings are a service function, offered after the trace.
    addNode(service, NodeCaption::Uart, kUartImage);
}

// The level marks follow the device layouts; the layout without a device keeps
// the marks the level had, whatever a click on a menu item toggled.
void TFDevice::setLevelMarks(bool userLevel) {
    userMarked_ = userLevel;
    restoreLevelMarks();
}

void TFDevice::restoreLevelMarks() {
    MServUser->setChecked(userMarked_);
    MServExt->setChecked(!userMarked_);
}

// --- lookup ------------------------------------------------------------------

QTreeWidgetItem* TFDevice::findItem(const QString& caption) const {
    for (QTreeWidgetItemIterator it(treeDev_); *it; ++it) {
        if ((*it)->text(0) == caption) return *it;
    }
    return nullptr;
}

int TFDevice::FindNode(const QString& caption) const {
    int index = 0;
    for (QTreeWidgetItemIterator it(treeDev_); *it; ++it, ++index) {
        if ((*it)->text(0) == caption) return index;
    }
    return -1;
}

void TFDevice::SetNodeImage(const QString& caption, int image) {
    if (QTreeWidgetItem* node = findItem(caption)) {
        node->setIcon(0, ImageListIcon(image));
        node->setData(0, kImageRole, image);
    }
}

int TFDevice::nodeImage(const QTreeWidgetItem* node) {
    return node ? node->data(0, kImageRole).toInt() : -1;
}

// --- activation --------------------------------------------------------------

void TFDevice::activateSelectedNode() {
    QTreeWidgetItem* selected = treeDev_->currentItem();
    if (!selected || !selected->isSelected()) return;
    const QString caption = selected->text(0);
    for (const DispatchEntry& entry : kDispatch) {
        if (caption == QString::fromUtf8(entry.caption)) return entry.activate(*this);
    }
}

bool TFDevice::eventFilter(QObject* watched, QEvent* event) {
    if (watched == treeDev_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            activateSelectedNode();
            return true;
        }
    }
    if (watched == PanelDev && event->type() == QEvent::Move && PanelDev->isFloating()) {
        panelMoveEnd_->start();
    }
    if (watched == PanelDev && event->type() == QEvent::Close) {
        // Only the tree reaches most windows: a window manager's close docks the panel instead.
        event->ignore();
        dockPanelBack();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- device panel docking ----------------------------------------------------

void TFDevice::setUpPanelDocking() {
    connect(treeDev_, &QTreeWidget::itemDoubleClicked, this, [this] { activateSelectedNode(); });
    treeDev_->installEventFilter(this);
    panelMoveEnd_ = new QTimer(this);
    panelMoveEnd_->setSingleShot(true);
    panelMoveEnd_->setInterval(kPanelMoveSettleMs);
    // The window manager moves a floating panel; the drag has ended once it
    // stops moving, and the pointer is then where it was dropped.
    connect(panelMoveEnd_, &QTimer::timeout, this, [this] { panelDragEnded(QCursor::pos().x()); });
    PanelDev->installEventFilter(this);
    // While it floats the panel docks back only by the drop rule below, not wherever the toolkit
    // would dock it on the way.
    connect(PanelDev, &QDockWidget::topLevelChanged, this, [this](bool floating) {
        PanelDev->setAllowedAreas(floating ? Qt::NoDockWidgetArea : Qt::LeftDockWidgetArea);
    });
}

void TFDevice::panelDragEnded(int dropScreenX) {
    if (!PanelDev->isFloating()) return;
    if (dropScreenX > frameGeometry().left()) return;
    dockPanelBack();
}

void TFDevice::dockPanelBack() {
    if (PanelDev->isFloating()) {
        PanelDev->setFloating(false);
        addDockWidget(Qt::LeftDockWidgetArea, PanelDev);
    }
    PanelDev->show();
}
