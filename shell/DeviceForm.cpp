#include "shell/DeviceForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDockWidget>
#include <QHeaderView>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>

#include "config/RecordDate.h"
#include "shell/AccessForm.h"
#include "shell/ChildFrames.h"
#include "shell/DeviceTree.h"
#include "shell/FileCommands.h"
#include "shell/Icons.h"
#include "shell/NodeCaptions.h"
#include "shell/PaneCycle.h"
#include "shell/PanelDocking.h"
#include "shell/TaskDispatch.h"
#include "shell/WindowArranger.h"
#include "transfer/FlashForm.h"
#include "ui/Buttons.h"
#include "ui/Dialogs.h"
#include "ui/FixedLayout.h"
#include "ui/TaskWindow.h"
#include "ui/WindowRegistry.h"

const char* const kLeaveDownloadQuestion =
    "Загрузка программного обеспечения не завершена: флэш-память контроллера останется "
    "записанной не полностью. Закрыть программу?";

namespace {
const char* statusText(int status) {
    switch (status) {
        case LinkStatus::NoConfiguration:
            return "Конфигурация контроллера К-350 не доступна";
        case LinkStatus::NoInterface:
            return "Интерфейс контроллера К-350 не доступен";
        case LinkStatus::NoBoard:
            // verbatim: "K-350" with a Latin K here, unlike the other lines
            return "Контроллер K-350 не обнаружен на шине USB";
        case LinkStatus::ReadStarted:
            return "Процесс чтения конфигурации запущен";
        case LinkStatus::ReadFinished:
            return "Процесс чтения конфигурации завершен";
        case LinkStatus::WriteStarted:
            return "Процесс загрузки конфигурации запущен";
        case LinkStatus::WriteFinished:
            return "Процесс загрузки конфигурации завершен";
        case LinkStatus::FirmwareStarted:
            return "Процесс загрузки программного обеспечения запущен";
        case LinkStatus::FirmwareFinished:
            return "Процесс загрузки программного обеспечения завершен";
        case LinkStatus::BootStarted:
            return "Процесс загрузки ПО (boot_mode) запущен";
        case LinkStatus::BootFinished:
            return "Процесс загрузки ПО (boot_mode) завершен";
        case LinkStatus::AccessRefused:
            return "Доступ к контроллеру К-350 запрещен: нет прав на его узел USB; установите "
                   "правило udev 70-k350.rules и переподключите контроллер";
        default:
            return nullptr;
    }
}

QAction* makeAction(QObject* parent, const char* name, const QString& text, int image = -1,
                    const QString& hint = {}) {
    auto* action = new QAction(text, parent);
    action->setObjectName(name);
    if (image >= 0) action->setIcon(ImageListIcon(image));
    if (!hint.isEmpty()) {
        action->setToolTip(hint);
        action->setStatusTip(hint);
    }
    return action;
}
}  // namespace

TFDevice::TFDevice(Options options)
    : session_(options),
      files_(std::make_unique<FileCommands>(*this, document_)),
      dispatch_(std::make_unique<TaskDispatch>(*this, document_, *files_)) {
    setObjectName("FDevice");
    setWindowTitle("Терминал контроллеров К-350");
    setWindowIcon(ImageListIcon(ImageIndex::Device));
    buildActions();
    buildMenus();
    buildToolBars();
    buildPanels();
    placeOnScreen();
    WindowRegistry::Set(WindowId::FDevice, this);
    session_.start();

    BuildTree();
}

TFDevice::~TFDevice() {
    shutDown();
}

// --- layout ------------------------------------------------------------------

void TFDevice::buildActions() {
    MFileOpen = makeAction(this, "MFileOpen", "Открыть", ImageIndex::Open, "Открыть файл");
    MFileClose = makeAction(this, "MFileClose", "Закрыть", -1, "Закрыть файл");
    MFileSave = makeAction(this, "MFileSave", "Сохранить", ImageIndex::Save);
    MFileSaveAs = makeAction(this, "MFileSaveAs", "Сохранить как", ImageIndex::SaveAs);
    MFileOut = makeAction(this, "MFileOut", "Выход", -1, "Выйти из программы");
    // verbatim: the hints' double space, "конйигурацию" and trailing space
    MTaskGet = makeAction(this, "MTaskGet", "Прочитать", ImageIndex::Read,
                          "Прочитать  конйигурацию контроллера");
    MTaskSet = makeAction(this, "MTaskSet", "Записать", ImageIndex::Write,
                          "Загрузить конфигурацию контроллера ");
    MServUser = makeAction(this, "MServUser", "Пользовательский");
    MServExt = makeAction(this, "MServExt", "Дополнительный");
    MServUser->setCheckable(true);
    MServExt->setCheckable(true);
    MServUser->setChecked(true);
    CascadeWin = makeAction(this, "CascadeWin", "Каскадом", ImageIndex::Cascade);
    TileVertical = makeAction(this, "TileVertical", "Сверху вниз", ImageIndex::TileVertical);
    // verbatim: "Слева на право"
    TileHorizontal =
        makeAction(this, "TileHorizontal", "Слева на право", ImageIndex::TileHorizontal);
    ArrangeAll = makeAction(this, "ArrangeAll", "Упорядочить значки");

    MButtonOpen = makeAction(this, "MButtonOpen", "Открыть", ImageIndex::Open, "Открыть");
    MButtonSave = makeAction(this, "MButtonSave", "Сохранить", ImageIndex::Save, "Сохранить");
    MButtonSaveAs =
        makeAction(this, "MButtonSaveAs", "Сохранить как", ImageIndex::SaveAs, "Сохранить как");
    MButtonGet = makeAction(this, "MButtonGet", "Прочитать", ImageIndex::Read, "Прочитать");
    MButtonSet = makeAction(this, "MButtonSet", "Записать", ImageIndex::Write, "Записать");
    connectActions();
    setConfigCommandsEnabled(false);
    addWindowKeys();
}

// The multiple-document keys, outside the menus (whose items carry no shortcuts): Ctrl+F4
// closes the active task window, Ctrl+Tab and Ctrl+F6 go to the next, with Shift the previous.
void TFDevice::addWindowKeys() {
    const auto addKeys = [this](const char* name, QList<QKeySequence> keys, auto handler) {
        auto* action = new QAction(this);
        action->setObjectName(name);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
    };
    addKeys("CloseChild", {QKeySequence(Qt::CTRL | Qt::Key_F4)}, [this] {
        if (QMdiSubWindow* active = clientArea_->activeSubWindow()) active->close();
    });
    addKeys("NextChild",
            {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_F6)},
            [this] { clientArea_->activateNextSubWindow(); });
    addKeys("PreviousChild",
            {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F6)},
            [this] { clientArea_->activatePreviousSubWindow(); });
}

// A toolbar button does exactly what the menu item of the same action does.
void TFDevice::connectActions() {
    connect(MFileOpen, &QAction::triggered, this, &TFDevice::MFileOpenClick);
    connect(MButtonOpen, &QAction::triggered, this, &TFDevice::MFileOpenClick);
    connect(MFileClose, &QAction::triggered, this, &TFDevice::MFileCloseClick);
    connect(MFileSave, &QAction::triggered, this, &TFDevice::MFileSaveClick);
    connect(MButtonSave, &QAction::triggered, this, &TFDevice::MFileSaveClick);
    connect(MFileSaveAs, &QAction::triggered, this, &TFDevice::MFileSaveAsClick);
    connect(MButtonSaveAs, &QAction::triggered, this, &TFDevice::MFileSaveAsClick);
    connect(MFileOut, &QAction::triggered, this, &QWidget::close);
    connect(MTaskGet, &QAction::triggered, this, &TFDevice::MTaskGetClick);
    connect(MButtonGet, &QAction::triggered, this, &TFDevice::MTaskGetClick);
    connect(MTaskSet, &QAction::triggered, this, &TFDevice::MTaskSetClick);
    connect(MButtonSet, &QAction::triggered, this, &TFDevice::MTaskSetClick);
    connect(MServUser, &QAction::triggered, this, &TFDevice::MServUserClick);
    connect(MServExt, &QAction::triggered, this, &TFDevice::MServExtClick);
}

void TFDevice::buildMenus() {
    QMenu* file = menuBar()->addMenu("Файл");
    file->setObjectName("MFile");
    file->addActions({MFileOpen, MFileClose});
    file->addSeparator();
    file->addActions({MFileSave, MFileSaveAs});
    file->addSeparator();
    file->addAction(MFileOut);
    QMenu* task = menuBar()->addMenu("Задачи");
    task->setObjectName("MTask");
    task->addActions({MTaskGet, MTaskSet});
    QMenu* service = menuBar()->addMenu("Сервис");
    service->setObjectName("N4");
    service->addActions({MServUser, MServExt});
    QMenu* window = menuBar()->addMenu("Окно");
    window->setObjectName("Window1");
    window->addActions({CascadeWin, TileVertical, TileHorizontal, ArrangeAll});
}

void TFDevice::buildToolBars() {
    ToolBarFile = addToolBar("Файл");
    ToolBarFile->setObjectName("ToolBarFile");
    ToolBarFile->addActions({MButtonOpen, MButtonSave, MButtonSaveAs});
    ToolBarTask = addToolBar("Задачи");
    ToolBarTask->setObjectName("ToolBarTask");
    ToolBarTask->addActions({MButtonGet, MButtonSet});
    for (QToolBar* bar : {ToolBarFile, ToolBarTask}) {
        bar->setIconSize(QSize(20, 20));
        bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        for (QAction* action : bar->actions()) {
            if (QWidget* button = bar->widgetForAction(action)) {
                button->setAccessibleName(action->text());
                button->setObjectName(action->objectName());
            }
        }
    }
}

void TFDevice::buildPanels() {
    clientArea_ = new QMdiArea(this);
    clientArea_->setObjectName("ClientArea");
    // A window moved or left outside the area stays reachable.
    clientArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    clientArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A window opened or activated while another is maximised opens at its own size: the
    // fixed windows cannot be maximised.
    clientArea_->setOption(QMdiArea::DontMaximizeSubWindowOnActivation);
    // The smallest task window (a progress window) with its frame stays usable.
    clientArea_->setMinimumSize(ScaledSize(this, QSize(305, 250)));
    frames_ = std::make_unique<ChildFrames>(clientArea_, windowIcon());
    setCentralWidget(clientArea_);
    arranger_ = std::make_unique<WindowArranger>(clientArea_);
    connect(CascadeWin, &QAction::triggered, this, [this] { arranger_->cascade(); });
    connect(TileVertical, &QAction::triggered, this, [this] { arranger_->tile(Qt::Horizontal); });
    connect(TileHorizontal, &QAction::triggered, this, [this] { arranger_->tile(Qt::Vertical); });
    connect(ArrangeAll, &QAction::triggered, this, [this] { arranger_->arrangeIcons(); });

    PanelDev = new QDockWidget("K350", this);
    PanelDev->setObjectName("PanelDev");
    PanelDev->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    PanelDev->setAllowedAreas(Qt::LeftDockWidgetArea);
    treeDev_ = new QTreeWidget(PanelDev);
    treeDev_->setObjectName("TreeDev");
    treeDev_->setAccessibleName("Устройства");
    treeDev_->header()->hide();
    treeDev_->setIndentation(19);
    treeDev_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Captions wider than the column scroll rather than being cut short.
    treeDev_->setTextElideMode(Qt::ElideNone);
    treeDev_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    treeDev_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    treeDev_->header()->setStretchLastSection(false);
    deviceTree_ = std::make_unique<DeviceTree>(treeDev_);
    PanelDev->setWidget(treeDev_);
    PanelDev->setMinimumWidth(panelWidth());
    addDockWidget(Qt::LeftDockWidgetArea, PanelDev);
    connect(treeDev_, &QTreeWidget::itemDoubleClicked, this, [this] { activateSelectedNode(); });
    treeDev_->installEventFilter(this);
    docking_ = new PanelDocking(this, PanelDev);

    auto* logDock = new QDockWidget(this);
    logDock->setObjectName("PanelLog");
    logDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    logDock->setTitleBarWidget(new QWidget(logDock));
    logDock->toggleViewAction()->setVisible(false);  // untitled: no entry in the panel menu
    TranscriptControl = new QTabWidget(logDock);
    TranscriptControl->setObjectName("TranscriptControl");
    TranscriptControl->setTabPosition(QTabWidget::South);
    Log = new QPlainTextEdit;
    Log->setObjectName("Log");
    Log->setAccessibleName("Сообщения");
    Log->setReadOnly(true);
    Log->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Read with the keyboard too: a caret moves and selects, Ctrl+C copies.
    Log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    TranscriptControl->addTab(Log, "Сообщения");
    logDock->setWidget(TranscriptControl);
    addDockWidget(Qt::BottomDockWidgetArea, logDock);
    resizeDocks({logDock}, {105}, Qt::Vertical);
    resizeDocks({PanelDev}, {panelWidth()}, Qt::Horizontal);
    panes_ = new PaneCycle(this, treeDev_, clientArea_, Log);
}

// The design's size, grown with the font as the task windows grow, within the screen.
QSize TFDevice::startSize() const {
    return ScaledSize(this, QSize(669, 585)).expandedTo(minimumSizeHint());
}

void TFDevice::placeOnScreen() {
    QSize size = startSize();
    if (QScreen* screen = QApplication::primaryScreen()) {
        // The window manager's frame still has to fit around it.
        const QRect room = screen->availableGeometry().adjusted(0, 0, -16, -48);
        resize(size.boundedTo(room.size()).expandedTo(minimumSizeHint()));
        QRect placed = rect();
        placed.moveCenter(room.center());
        move(std::max(placed.left(), room.left()), std::max(placed.top(), room.top()));
    } else {
        resize(size);
    }
}

// Wide enough for the longest caption at the deepest level (model, group, task), at least the
// design's width grown with the font.
int TFDevice::panelWidth() const {
    const QFontMetrics metrics(treeDev_->font());
    int widest = 0;
    for (const char* caption :
         {NodeCaption::Tasks, NodeCaption::Devices, NodeCaption::Read, NodeCaption::Write,
          NodeCaption::Firmware, NodeCaption::Statistics, NodeCaption::Codec, NodeCaption::Vocoder,
          NodeCaption::Recorder, NodeCaption::Amplifier, NodeCaption::Information,
          NodeCaption::Service, NodeCaption::BoardInfo, NodeCaption::Trace, NodeCaption::Uart}) {
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(caption)));
    }
    const int iconAndGaps = treeDev_->iconSize().width() + 3 * metrics.averageCharWidth();
    const int frame =
        2 * treeDev_->frameWidth() + 2 * style()->pixelMetric(QStyle::PM_DockWidgetFrameWidth);
    const int needed = 3 * treeDev_->indentation() + iconAndGaps + widest + frame;
    return std::max(needed, ScaledSize(this, QSize(161, 0)).width());
}

void TFDevice::setConfigCommandsEnabled(bool enabled) {
    for (QAction* action :
         {MFileClose, MFileSave, MFileSaveAs, MTaskSet, MButtonSave, MButtonSaveAs, MButtonSet}) {
        action->setEnabled(enabled);
    }
}

// --- log ---------------------------------------------------------------------

void TFDevice::appendLog(const QString& message) {
    appendLog(LogPrefix(), message);
}

void TFDevice::appendLog(const QString& prefix, const QString& message) {
    Log->appendPlainText(prefix + message);
}

QString TFDevice::logText() const {
    return Log->toPlainText();
}

// --- worker reports ----------------------------------------------------------

void TFDevice::onWorkerNotification(const WorkerNotification& notification) {
    const auto value = notification.value;
    switch (notification.code) {
        case NotifyCode::Status:
            return logStatus(int(value));
        case NotifyCode::Error:
            return appendLog("Error: " + QString::number(int(value)));
        // verbatim: no space before "байт."
        case NotifyCode::BytesReceived:
            return appendLog("Получено " + QString::number(int(value)) + "байт.");
        case NotifyCode::BytesSent:
            return appendLog("Передано " + QString::number(int(value)) + "байт.");
        case NotifyCode::ConfigData:
            return InstallConfig(reinterpret_cast<const std::uint8_t*>(value));
        case NotifyCode::FillData:
            return answerTransferRequest(value);
        default:
            return;
    }
}

void TFDevice::logStatus(int status) {
    if (const char* text = statusText(status)) appendLog(QString::fromUtf8(text));
}

// The worker writes from a copy taken now, so closing or editing the
// configuration while the write runs can neither change nor free its bytes.
void TFDevice::answerTransferRequest(std::intptr_t transferDataAddress) {
    auto* transfer = reinterpret_cast<TransferData*>(transferDataAddress);
    if (!transfer || !document_.hasConfig()) return;
    transfer->hold(document_.writeCopy());
}

// --- configuration -----------------------------------------------------------

void TFDevice::InstallConfig(const std::uint8_t* snapshotBytes) {
    if (!snapshotBytes) return;
    // Copy into the existing storage: open settings windows keep valid references.
    document_.install(snapshotBytes);
    setConfigCommandsEnabled(true);
    BuildTree();
}

// --- child windows -----------------------------------------------------------

void TFDevice::showTaskWindow(TaskWindow* window) {
    connect(window, &TaskWindow::logLine, this, qOverload<const QString&>(&TFDevice::appendLog));
    frames_->show(window);
    // With the last task window gone the keyboard goes back to the tree, not to nowhere.
    connect(window->parentWidget(), &QObject::destroyed, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!shutDown_ && frames_->isEmpty()) treeDev_->setFocus();
            },
            Qt::QueuedConnection);
    });
}

void TFDevice::bringToFront(TaskWindow* window) {
    ChildFrames::bringToFront(window);
}

void TFDevice::closeAllTaskWindows() {
    frames_->closeAll();
}

// --- shutdown ----------------------------------------------------------------

// Leaving in the middle of a download leaves the board unable to start: only on purpose.
void TFDevice::closeEvent(QCloseEvent* event) {
    const auto* flash = WindowRegistry::Find<TFFlash>(WindowId::FFlash);
    if (!shutDown_ && flash && flash->isDownloading() &&
        !AppDialogs().askYesNo(this, kLeaveDownloadQuestion)) {
        event->ignore();
        return;
    }
    shutDown();
    event->accept();
}

// Child windows are destroyed without their close handling; the session is
// disconnected first so the worker can no longer reach a destroyed window, then
// it ends the worker without waiting on a transfer that does not finish. Nothing
// the user does is handled from here on: the window is disabled and no events
// are processed while the worker finishes.
void TFDevice::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    setEnabled(false);
    session_.disconnect();
    frames_->destroyAll();
    WindowRegistry::Clear(WindowId::FDevice, this);
    session_.end();
}

// --- device tree -------------------------------------------------------------

DeviceTree::Layout TFDevice::treeLayout() const {
    if (!document_.hasConfig()) return DeviceTree::Layout::NoDevice;
    if (document_.level() == ServiceLevel::FullService) return DeviceTree::Layout::FullService;
    if (document_.level() == ServiceLevel::Service) return DeviceTree::Layout::Service;
    return DeviceTree::Layout::Device;
}

void TFDevice::BuildTree() {
    if (document_.level() == ServiceLevel::FullService && !document_.hasConfig()) makeBlankConfig();
    const DeviceTree::Layout layout = treeLayout();
    if (layout == DeviceTree::Layout::NoDevice) {
        restoreLevelMarks();
    } else {
        setLevelMarks(layout == DeviceTree::Layout::Device);
    }
    treeDev_->setUpdatesEnabled(false);
    deviceTree_->build(layout, document_.model());
    treeDev_->setUpdatesEnabled(true);
}

// The blank snapshot goes into the existing storage, like any installed one.
void TFDevice::makeBlankConfig() {
    const QDate today = QDate::currentDate();
    document_.makeBlank(FormatRecordDate({today.day(), today.month(), today.year()}));
    MFileSaveAs->setEnabled(true);
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

int TFDevice::FindNode(const QString& caption) const {
    return deviceTree_->findNode(caption);
}

void TFDevice::SetNodeImage(const QString& caption, int image) {
    deviceTree_->setNodeImage(caption, image);
}

int TFDevice::nodeImage(const QTreeWidgetItem* node) {
    return DeviceTree::nodeImage(node);
}

void TFDevice::activateSelectedNode() {
    dispatch_->activate(deviceTree_->selectedTask());
}

bool TFDevice::eventFilter(QObject* watched, QEvent* event) {
    if (watched == treeDev_ && IsEnterPress(event)) {
        activateSelectedNode();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFDevice::panelDragEnded(int dropScreenX) {
    docking_->dragEnded(dropScreenX);
}

// --- commands ----------------------------------------------------------------

void TFDevice::MFileOpenClick() {
    files_->open();
}

void TFDevice::MFileCloseClick() {
    CloseDevice();
}

void TFDevice::MFileSaveClick() {
    files_->save();
}

void TFDevice::MFileSaveAsClick() {
    files_->saveAs();
}

bool TFDevice::SaveToFile(const QString& name) {
    return files_->saveToFile(name);
}

void TFDevice::MTaskGetClick() {
    files_->readDevice();
}

void TFDevice::MTaskSetClick() {
    files_->writeDevice();
}

void TFDevice::CloseDevice() {
    closeAllTaskWindows();
    if (!document_.hasConfig()) return;
    document_.discard();
    setConfigCommandsEnabled(false);
    BuildTree();
}

// The menu "Сервис": the user level at once, the service levels by code.
void TFDevice::MServUserClick() {
    setServiceLevel(ServiceLevel::User);
}

void TFDevice::MServExtClick() {
    std::optional<ServiceLevel> granted;
    {
        TFAccess access(this);
        access.exec();
        granted = access.grantedLevel();
    }
    if (granted) {
        document_.setLevel(*granted);
    } else {
        document_.setLevel(ServiceLevel::User);
        AppDialogs().message(this, "Код доступа неправильный");
    }
    BuildTree();
}

// A change of level touches neither the configuration nor the open windows.
void TFDevice::setServiceLevel(ServiceLevel level) {
    document_.setLevel(level);
    BuildTree();
}
