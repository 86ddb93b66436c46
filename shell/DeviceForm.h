// TFDevice: the main window: its menus, toolbars, device panel, client area and log. It holds
// the document (configuration, file name, service level, CRC calculator) and the worker's
// session, and turns the worker's general reports into log lines or document changes.
#pragma once

#include <QList>
#include <QMainWindow>
#include <memory>

#include "config/ServiceLevel.h"
#include "shell/ConfigDocument.h"
#include "shell/DeviceTree.h"
#include "shell/ShellWindow.h"
#include "shell/WorkerSession.h"
#include "ui/WindowRegistry.h"

class QAction;
class QDockWidget;
class QMdiArea;
class QMdiSubWindow;
class QPlainTextEdit;
class QTabWidget;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class ChildFrames;
class FileCommands;
class PaneCycle;
class PanelDocking;
class WindowArranger;
class TaskDispatch;
class TaskWindow;

class TFDevice : public QMainWindow, public NotificationReceiver, public ShellWindow {
    Q_OBJECT
public:
    using Options = WorkerSession::Options;
    explicit TFDevice(Options options);
    TFDevice() : TFDevice(Options{}) {}
    ~TFDevice() override;

    ConfigDocument& document() { return document_; }
    WorkerSession& session() { return session_; }
    QMdiArea* clientArea() const { return clientArea_; }
    QTreeWidget* tree() const { return treeDev_; }
    QString logText() const;

    // Log: a line gets the time prefix ("14:03:27-> ") unless one is given.
    void appendLog(const QString& message);
    void appendLog(const QString& prefix, const QString& message) override;

    // Operations used by the commands and the windows.
    void InstallConfig(const std::uint8_t* snapshotBytes) override;
    void CloseDevice() override;
    void BuildTree();
    void setServiceLevel(ServiceLevel level);
    bool SaveToFile(const QString& name);

    // Tree nodes are known by caption alone. FindNode: index in display order
    // (each node before its children), -1 when there is none.
    int FindNode(const QString& caption) const;
    void SetNodeImage(const QString& caption, int image);
    static int nodeImage(const QTreeWidgetItem* node);
    // Runs the task of the selected node, as a double click or Enter does.
    void activateSelectedNode();
    // The docking rule of the device panel at the end of a drag: a drop at or
    // left of the window's left edge (screen x) docks it back.
    void panelDragEnded(int dropScreenX);
    QDockWidget* devicePanel() const { return PanelDev; }
    // Wraps a new task window in an MDI frame, places it 10 × n pixels from
    // the client area's corner and shows it.
    void showTaskWindow(TaskWindow* window) override;
    void bringToFront(TaskWindow* window) override;
    QWidget* dialogParent() override { return this; }
    void closeAllTaskWindows();
    // The size the window starts at on a screen large enough: the design's, grown with the font.
    QSize startSize() const;
    int panelWidth() const;

    void onWorkerNotification(const WorkerNotification& notification) override;
    void closeFromWorker() override {}

public slots:
    void MFileOpenClick();
    void MFileCloseClick();
    void MFileSaveClick();
    void MFileSaveAsClick();
    void MTaskGetClick();
    void MTaskSetClick();
    void MServUserClick();
    void MServExtClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildActions();
    void connectActions();
    void addWindowKeys();
    void buildMenus();
    void buildToolBars();
    void buildPanels();
    void placeOnScreen();
    void setConfigCommandsEnabled(bool enabled);
    void makeBlankConfig();
    DeviceTree::Layout treeLayout() const;
    void setLevelMarks(bool userLevel);
    void restoreLevelMarks();
    void answerTransferRequest(std::intptr_t transferDataAddress);
    void logStatus(int status);
    void shutDown();

    // Commands and their toolbar twins.
    QAction* MFileOpen = nullptr;
    QAction* MFileClose = nullptr;
    QAction* MFileSave = nullptr;
    QAction* MFileSaveAs = nullptr;
    QAction* MFileOut = nullptr;
    QAction* MTaskGet = nullptr;
    QAction* MTaskSet = nullptr;
    QAction* MServUser = nullptr;
    QAction* MServExt = nullptr;
    QAction* CascadeWin = nullptr;
    QAction* TileVertical = nullptr;
    QAction* TileHorizontal = nullptr;
    QAction* ArrangeAll = nullptr;
    QAction* MButtonOpen = nullptr;
    QAction* MButtonSave = nullptr;
    QAction* MButtonSaveAs = nullptr;
    QAction* MButtonGet = nullptr;
    QAction* MButtonSet = nullptr;
    QToolBar* ToolBarFile = nullptr;
    QToolBar* ToolBarTask = nullptr;

    QMdiArea* clientArea_ = nullptr;
    QDockWidget* PanelDev = nullptr;
    QTreeWidget* treeDev_ = nullptr;
    PanelDocking* docking_ = nullptr;
    QTabWidget* TranscriptControl = nullptr;
    QPlainTextEdit* Log = nullptr;

    ConfigDocument document_;
    WorkerSession session_;
    bool userMarked_ = true;  // which level item of the menu "Сервис" carries the mark

    std::unique_ptr<FileCommands> files_;
    std::unique_ptr<TaskDispatch> dispatch_;
    std::unique_ptr<DeviceTree> deviceTree_;
    std::unique_ptr<WindowArranger> arranger_;
    std::unique_ptr<ChildFrames> frames_;
    PaneCycle* panes_ = nullptr;
    bool shutDown_ = false;
};

extern const char* const kLeaveDownloadQuestion;
