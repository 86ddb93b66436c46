// The menu "Окно" on the real windows: six task windows tiled in the client area of a maximised
// main window on a laptop screen (1166 × 580) and of the window at its start size, the trace
// taking the room the fixed windows leave, and the cascade keeping every title bar in view.
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTreeWidget>

#include "tests/support/ShellFixture.h"

namespace {

const QSize kLaptopArea(1166, 580);
const char* const kSixWindows[] = {"Статистика",  "Кодек",        "Вокодер",
                                   "Регистратор", "Усилитель НЧ", "Информация"};

std::string text(const QRect& rect) {
    return std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " " +
           std::to_string(rect.width()) + "x" + std::to_string(rect.height());
}

std::string nameOf(const QMdiSubWindow* frame) {
    return frame->windowTitle().toStdString();
}

class WindowArrangerTest : public ShellFixture {
protected:
    void SetUp() override { installConfig(0); }

    void open(const char* caption) { openNode(QString::fromUtf8(caption)); }
    QList<QMdiSubWindow*> openSix() {
        for (const char* caption : kSixWindows) open(caption);
        return frames();
    }
    QList<QMdiSubWindow*> frames() {
        return window().clientArea()->subWindowList(QMdiArea::CreationOrder);
    }
    QRect area() { return window().clientArea()->viewport()->rect(); }
    // Sizes the main window so that its client area is exactly this size.
    void setArea(QSize size) {
        window().resize(window().size() + size - area().size());
        QApplication::processEvents();
        ASSERT_EQ(area().size(), size);
    }
    void arrange(const char* command) {
        trigger(command);
        QApplication::processEvents();
    }
    static int titleStep(const QMdiSubWindow* frame) { return frame->widget()->geometry().top(); }
};

bool overlapsAnother(const QMdiSubWindow* frame, const QList<QMdiSubWindow*>& frames) {
    return std::any_of(frames.begin(), frames.end(), [frame](const QMdiSubWindow* other) {
        return other != frame && other->geometry().intersects(frame->geometry());
    });
}

// The windows cascaded for want of room lie in front of the tiled ones and of each other: a window
// is tiled when it covers none behind it.
bool isCascaded(QMdiSubWindow* frame) {
    const QList<QMdiSubWindow*> stacking = frame->mdiArea()->subWindowList(QMdiArea::StackingOrder);
    const QList<QMdiSubWindow*> behind = stacking.mid(0, stacking.indexOf(frame));
    return overlapsAnother(frame, behind);
}

// Whether a rectangle of this size has a place in the area beside the placed ones. A place, if
// there is one, is found again pushed left and up: at x = 0 or right of one, y = 0 or below one.
bool fitsBeside(QSize size, QRect area, const QList<QRect>& placed) {
    QList<int> xs{0}, ys{0};
    for (const QRect& rect : placed) {
        xs << rect.right() + 1;
        ys << rect.bottom() + 1;
    }
    for (int x : xs) {
        for (int y : ys) {
            const QRect rect(QPoint(x, y), size);
            if (area.contains(rect) &&
                std::none_of(placed.begin(), placed.end(),
                             [&rect](const QRect& other) { return other.intersects(rect); })) {
                return true;
            }
        }
    }
    return false;
}

// The tiled windows lie inside the area without overlapping; no cascaded one would have found
// room beside them; no two windows share a place, and every title bar starts inside the area.
void expectTiledAsFarAsRoomGoes(const QList<QMdiSubWindow*>& frames, QRect area) {
    QList<QRect> tiled;
    QList<QMdiSubWindow*> cascaded;
    for (QMdiSubWindow* frame : frames) {
        if (isCascaded(frame)) {
            cascaded << frame;
        } else {
            EXPECT_TRUE(area.contains(frame->geometry()))
                << nameOf(frame) << " at " << text(frame->geometry());
            tiled << frame->geometry();
        }
    }
    EXPECT_FALSE(tiled.isEmpty());

    for (QMdiSubWindow* frame : cascaded) {
        EXPECT_FALSE(fitsBeside(frame->size(), area, tiled))
            << nameOf(frame) << " had room but was cascaded";
    }
    QSet<std::pair<int, int>> places;
    for (QMdiSubWindow* frame : frames) {
        places.insert({frame->x(), frame->y()});
        EXPECT_TRUE(area.contains(frame->geometry().topLeft() + QPoint(40, 10)))
            << nameOf(frame) << " at " << text(frame->geometry());
    }
    EXPECT_EQ(places.size(), frames.size()) << "two windows at the same place";
}

// The first windows of the list, as many as fit along the area, lie edge to edge from its corner.
void expectLeadingWindowsAlongTheEdge(const QList<QMdiSubWindow*>& frames, QRect area,
                                      bool sideBySide) {
    int along = 0, expected = 0;
    for (const QMdiSubWindow* frame : frames) {
        const int length = sideBySide ? frame->width() : frame->height();
        if (along + length > (sideBySide ? area.width() : area.height())) break;
        const QPoint at = sideBySide ? QPoint(along, 0) : QPoint(0, along);
        EXPECT_EQ(frame->pos(), at) << nameOf(frame);
        along += length;
        ++expected;
    }
    EXPECT_GE(expected, 1);
}

TEST_F(WindowArrangerTest, SixWindowsTileAsFarAsTheyFitOnALaptopScreen) {
    setArea(kLaptopArea);
    const QList<QMdiSubWindow*> six = openSix();
    ASSERT_EQ(six.size(), 6);
    QList<QSize> sizes;
    for (QMdiSubWindow* frame : six) sizes << frame->size();
    for (const char* command : {"TileVertical", "TileHorizontal"}) {
        SCOPED_TRACE(command);
        arrange(command);
        const bool sideBySide = std::string(command) == "TileVertical";
        expectTiledAsFarAsRoomGoes(six, area());
        expectLeadingWindowsAlongTheEdge(six, area(), sideBySide);
        for (int i = 0; i < six.size(); ++i) EXPECT_EQ(six[i]->size(), sizes[i]) << nameOf(six[i]);
    }
    // Side by side, the statistics and the codec windows share the top row.
    arrange("TileVertical");
    EXPECT_EQ(six[0]->pos(), QPoint(0, 0));
    EXPECT_EQ(six[1]->pos(), QPoint(six[0]->width(), 0));
}

TEST_F(WindowArrangerTest, SixWindowsTileWithoutOneOverAnotherAtTheStartSize) {
    window().resize(window().startSize());
    QApplication::processEvents();
    const QList<QMdiSubWindow*> six = openSix();
    ASSERT_EQ(six.size(), 6);
    for (const char* command : {"TileVertical", "TileHorizontal"}) {
        SCOPED_TRACE(command);
        arrange(command);
        expectTiledAsFarAsRoomGoes(six, area());
        expectLeadingWindowsAlongTheEdge(six, area(), std::string(command) == "TileVertical");
    }
}

TEST_F(WindowArrangerTest, TraceTakesTheRoomTheFixedWindowsLeave) {
    window().setServiceLevel(ServiceLevel::FullService);
    setArea(kLaptopArea);
    for (const char* caption : {"Trace", "Кодек", "Вокодер"}) open(caption);
    const QList<QMdiSubWindow*> three = frames();
    QMdiSubWindow* trace = three[0];
    for (const char* command : {"TileVertical", "TileHorizontal"}) {
        SCOPED_TRACE(command);
        arrange(command);
        for (QMdiSubWindow* frame : three) {
            EXPECT_FALSE(overlapsAnother(frame, three)) << nameOf(frame) << text(frame->geometry());
            EXPECT_TRUE(area().contains(frame->geometry())) << nameOf(frame);
        }
        // It cannot grow on any side without leaving the area or covering another window.
        const QRect room = trace->geometry();
        for (const QRect& grown : {room.adjusted(-1, 0, 0, 0), room.adjusted(0, -1, 0, 0),
                                   room.adjusted(0, 0, 1, 0), room.adjusted(0, 0, 0, 1)}) {
            EXPECT_TRUE(!area().contains(grown) || grown.intersects(three[1]->geometry()) ||
                        grown.intersects(three[2]->geometry()))
                << text(room);
        }
        EXPECT_GT(room.width() * room.height(),
                  trace->minimumSizeHint().width() * trace->minimumSizeHint().height());
    }
}

// A title bar is in view when the part of it that shows the caption's start is covered by no
// window in front of it and lies inside the area.
void expectEveryTitleBarInView(const QList<QMdiSubWindow*>& stacking, QRect area, int step) {
    for (int i = 0; i < stacking.size(); ++i) {
        const QRect title(stacking[i]->pos(), QSize(4 * step, step));
        EXPECT_TRUE(area.contains(title)) << nameOf(stacking[i]) << text(title);
        for (int front = i + 1; front < stacking.size(); ++front) {
            EXPECT_FALSE(stacking[front]->geometry().intersects(title))
                << nameOf(stacking[i]) << " under " << nameOf(stacking[front]);
        }
    }
}

TEST_F(WindowArrangerTest, CascadeKeepsEveryTitleBarInViewInsideTheArea) {
    window().setServiceLevel(ServiceLevel::FullService);
    for (bool startSize : {false, true}) {
        if (startSize) {
            window().resize(window().startSize());
            QApplication::processEvents();
        } else {
            setArea(kLaptopArea);
        }
        if (frames().isEmpty()) {
            for (const char* caption : kSixWindows) open(caption);
            for (const char* caption : {"Board Info", "Trace", "UART"}) open(caption);
        }
        arrange("TileVertical");  // from anywhere
        arrange("CascadeWin");
        const QList<QMdiSubWindow*> stacking =
            window().clientArea()->subWindowList(QMdiArea::StackingOrder);
        ASSERT_EQ(stacking.size(), 9);
        EXPECT_EQ(stacking, frames());  // the list's order, the last in front
        expectEveryTitleBarInView(stacking, area(), titleStep(stacking[0]));
        EXPECT_EQ(window().clientArea()->activeSubWindow(), frames().last());
    }
}

}  // namespace
