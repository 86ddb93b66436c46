// The main window's client area as an engineer meets it: windows opened while
// another is maximised, the start size, the smallest size, scroll bars, and
// the arranging commands with many windows, all on the real frame geometry.
#include <QApplication>
#include <QDockWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>

#include "tests/support/ShellFixture.h"
#include "transfer/ReadForm.h"
#include "ui/TaskWindow.h"

namespace {

const char* const kCaption = "Терминал контроллеров К-350";

class DeviceFormGeometryTest : public ShellFixture {
protected:
    void SetUp() override {
        installConfig(0);
        window().setServiceLevel(ServiceLevel::FullService);
    }

    QMdiSubWindow* open(const char* caption) { return openNode(QString::fromUtf8(caption)); }

    // Every task window in the order a person might open them: read, write, then the tree's.
    QList<QMdiSubWindow*> openEveryWindow(const std::function<void(QMdiSubWindow*)>& check = {}) {
        const auto opened = [&] {
            QApplication::processEvents();
            if (check) check(window().clientArea()->subWindowList().last());
        };
        window().showTaskWindow(new TFRead);
        opened();
        trigger("MTaskSet");
        opened();
        dialogs_.openAnswers.push_back(
            writeFile("image.rom", std::vector<std::uint8_t>(512, 0xFF)));
        for (const char* caption : {"Загрузка ПО", "Статистика", "Кодек", "Вокодер", "Регистратор",
                                    "Усилитель НЧ", "Информация", "Board Info", "Trace", "UART"}) {
            open(caption);
            opened();
        }
        return window().clientArea()->subWindowList();
    }

    QRect area() { return window().clientArea()->viewport()->rect(); }

    static bool isFixed(const QMdiSubWindow* frame) {
        return frame->minimumSize() == frame->maximumSize();
    }
    // The frame shows its title bar and the whole of its window.
    static void expectFramedWhole(QMdiSubWindow* frame) {
        const std::string name = frame->windowTitle().toStdString();
        EXPECT_FALSE(frame->isMaximized()) << name;
        EXPECT_GT(frame->widget()->geometry().top(), 10) << name << ": no title bar";
        EXPECT_TRUE(frame->rect().contains(frame->widget()->geometry())) << name << ": cut off";
        EXPECT_EQ(frame->widget()->size(), frame->widget()->minimumSize()) << name;
    }
};

std::string text(const QRect& rect) {
    return std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " " +
           std::to_string(rect.width()) + "x" + std::to_string(rect.height());
}

TEST_F(DeviceFormGeometryTest,
       FixedWindowsOpenedWhileTraceIsMaximisedOpenFramedAtTheirSizeInFront) {
    QMdiSubWindow* trace = open("Trace");
    ASSERT_NE(trace, nullptr);
    trace->showMaximized();
    QApplication::processEvents();
    for (const char* caption : {"UART", "Информация", "Кодек"}) {
        QMdiSubWindow* frame = open(caption);
        ASSERT_NE(frame, nullptr) << caption;
        ASSERT_NE(frame, trace) << caption;
        expectFramedWhole(frame);
        EXPECT_EQ(window().clientArea()->activeSubWindow(), frame) << caption;
        EXPECT_EQ(window().windowTitle(), kCaption);
    }
    trigger("CascadeWin");
    QApplication::processEvents();
    for (QMdiSubWindow* frame : window().clientArea()->subWindowList()) {
        if (frame != trace) expectFramedWhole(frame);
    }
    // Cycling to a fixed window does not maximise it either.
    trace->showMaximized();
    window().clientArea()->activateNextSubWindow();
    QApplication::processEvents();
    expectFramedWhole(window().clientArea()->activeSubWindow());
}

TEST_F(DeviceFormGeometryTest, CaptionStaysFixedAndMaximisedTraceKeepsItsTitleBar) {
    QMdiSubWindow* trace = open("Trace");
    ASSERT_NE(trace, nullptr);
    trace->showMaximized();
    QApplication::processEvents();
    EXPECT_EQ(window().windowTitle(), kCaption);
    EXPECT_TRUE(trace->isMaximized());
    EXPECT_GT(trace->widget()->geometry().top(), 10);  // its own restore and close stay on it
    EXPECT_EQ(window().menuBar()->cornerWidget(Qt::TopRightCorner), nullptr);
    trace->showNormal();
    QApplication::processEvents();
    EXPECT_EQ(window().windowTitle(), kCaption);
}

TEST_F(DeviceFormGeometryTest, StartSizeHoldsEveryWindowAtItsOpeningPlaceAndTheTreeItsCaptions) {
    if (QScreen* screen = QApplication::primaryScreen()) {
        EXPECT_TRUE(screen->availableGeometry().contains(window().geometry()))
            << text(screen->availableGeometry()) << " " << text(window().geometry());
    }
    // On a screen with room for it (the test screen may be smaller).
    window().resize(window().startSize());
    QApplication::processEvents();
    openEveryWindow([&](QMdiSubWindow* frame) {
        EXPECT_TRUE(area().contains(frame->geometry()))
            << frame->windowTitle().toStdString() << " at " << text(frame->geometry())
            << " outside " << text(area());
    });
    QTreeWidget* tree = window().tree();
    tree->expandAll();
    QApplication::processEvents();
    EXPECT_EQ(tree->horizontalScrollBar()->maximum(), 0);
}

TEST_F(DeviceFormGeometryTest, SmallestWindowKeepsMenusTreeAndOneWindowUsable) {
    window().resize(100, 100);
    QApplication::processEvents();
    EXPECT_GE(window().width(), window().minimumSizeHint().width());
    QMenuBar* menus = window().menuBar();
    const QList<QAction*> items = menus->actions();
    EXPECT_LE(menus->actionGeometry(items.last()).right(), menus->width());
    EXPECT_GE(window().devicePanel()->width(), window().panelWidth());
    window().showTaskWindow(new TFRead);
    QApplication::processEvents();
    QMdiSubWindow* frame = window().clientArea()->subWindowList().last();
    EXPECT_TRUE(area().contains(frame->geometry()))
        << text(frame->geometry()) << " " << text(area());
}

TEST_F(DeviceFormGeometryTest, AreaScrollsToAWindowOutsideIt) {
    QMdiSubWindow* frame = open("Информация");
    ASSERT_NE(frame, nullptr);
    frame->move(area().width() - 20, area().height() - 20);
    QApplication::processEvents();
    EXPECT_GT(window().clientArea()->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(window().clientArea()->verticalScrollBar()->maximum(), 0);
}

// The frames laid edge to edge from the area's corner, in order.
QList<QMdiSubWindow*> tiledRow(const QList<QMdiSubWindow*>& frames, bool sideBySide) {
    QList<QMdiSubWindow*> row;
    int next = 0;
    for (QMdiSubWindow* frame : frames) {
        const QPoint at = frame->pos();
        if ((sideBySide ? at.y() : at.x()) != 0 || (sideBySide ? at.x() : at.y()) != next) continue;
        row << frame;
        next = sideBySide ? frame->geometry().right() + 1 : frame->geometry().bottom() + 1;
    }
    return row;
}

// Fixed frames that fit lie edge to edge; the rest are cascaded with their captions inside the
// area; no frame changes its size.
void expectTiled(const QList<QMdiSubWindow*>& frames, const QList<QSize>& sizes, QRect area,
                 bool sideBySide) {
    for (int i = 0; i < frames.size(); ++i) {
        QMdiSubWindow* frame = frames[i];
        const std::string name = frame->windowTitle().toStdString();
        if (frame->minimumSize() == frame->maximumSize()) {
            EXPECT_EQ(frame->size(), sizes[i]) << name;
        }
        EXPECT_TRUE(area.contains(frame->geometry().topLeft() + QPoint(40, 10)))
            << name << " at " << text(frame->geometry());
    }
    const QList<QMdiSubWindow*> row = tiledRow(frames, sideBySide);
    ASSERT_GE(row.size(), 1);
    const QRect last = row.last()->geometry();
    EXPECT_LE(sideBySide ? last.right() : last.bottom(), sideBySide ? area.right() : area.bottom());
    if (row.size() > 1) return;
    EXPECT_GT(
        (sideBySide ? area.width() : area.height()) - (sideBySide ? last.width() : last.height()),
        0);
}

TEST_F(DeviceFormGeometryTest, TileAndCascadeManyWindowsWithoutStretchingOrLosingThem) {
    window().resize(window().startSize());
    const QList<QMdiSubWindow*> frames = openEveryWindow();
    ASSERT_EQ(frames.size(), 12);
    QList<QSize> sizes;
    for (QMdiSubWindow* frame : frames) sizes << frame->size();
    frames[5]->showMaximized();  // one left maximised is arranged as well
    for (const char* command : {"TileVertical", "TileHorizontal"}) {
        trigger(command);
        QApplication::processEvents();
        SCOPED_TRACE(command);
        expectTiled(frames, sizes, area(), std::string(command) == "TileVertical");
    }
    // Too many to fit whole: each title bar still starts inside the area.
    trigger("CascadeWin");
    QApplication::processEvents();
    for (int i = 0; i < frames.size(); ++i) {
        const std::string name = frames[i]->windowTitle().toStdString();
        EXPECT_TRUE(area().contains(frames[i]->geometry().topLeft() + QPoint(40, 10)))
            << name << text(frames[i]->geometry());
        if (isFixed(frames[i])) {
            EXPECT_EQ(frames[i]->size(), sizes[i]) << name;
        }
    }
}

TEST_F(DeviceFormGeometryTest, WindowsThatFitAreTiledWithoutOverlapInEitherDirection) {
    window().resize(1400, 1300);
    window().showTaskWindow(new TFRead);
    trigger("MTaskSet");
    open("Информация");
    const QList<QMdiSubWindow*> frames = window().clientArea()->subWindowList();
    ASSERT_EQ(frames.size(), 3);
    for (const char* command : {"TileVertical", "TileHorizontal"}) {
        trigger(command);
        QApplication::processEvents();
        EXPECT_EQ(tiledRow(frames, std::string(command) == "TileVertical"), frames) << command;
        for (QMdiSubWindow* frame : frames) {
            EXPECT_TRUE(area().contains(frame->geometry())) << command << text(frame->geometry());
        }
    }
}

}  // namespace
