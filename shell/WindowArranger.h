// The arranging commands of the menu "Окно" over the task windows of the client area, in the
// order the windows were opened (the order of the menu's window list).
//
// Tiling lays as many windows as fit side by side (rows from the top, each filled from the left)
// or one above the other (columns from the left, each filled from the top) without overlapping.
// A fixed window keeps its size; a resizable one then takes the largest room left. The windows
// no room is left for are cascaded on top where they cover the others least, never one at
// another's place. Cascading steps each window one title bar right of and below the last, so
// every title bar stays in view inside the area.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

class QMdiArea;
class QMdiSubWindow;

class WindowArranger {
public:
    explicit WindowArranger(QMdiArea* area) : area_(area) {}

    // Qt::Horizontal: side by side ("Сверху вниз"); Qt::Vertical: one above the other
    // ("Слева на право").
    void tile(Qt::Orientation along) const;
    void cascade() const;
    // Lines the minimised windows up from the bottom-left corner, left to right, a new row above
    // when the next would pass the right edge.
    void arrangeIcons() const;

    // What the arranging needs of a window.
    struct Window {
        QSize size;
        QSize minimum;  // of a resizable window
        bool resizable = false;
    };
    struct Place {
        QRect rect;
        bool cascaded = false;  // over the tiled ones, for want of room
    };
    // Where each window goes, in order, in an area of this size; step is the height of a title
    // bar. Tiling may give a resizable window a new size.
    static QList<Place> tiled(const QList<Window>& windows, QSize area, Qt::Orientation along,
                              int step);
    static QList<QPoint> cascaded(const QList<QSize>& sizes, QSize area, int step);

private:
    QList<QMdiSubWindow*> arrangedFrames() const;
    int titleStep(const QList<QMdiSubWindow*>& frames) const;
    template <typename Arrange>
    auto inRoom(Arrange arrange) const;

    QMdiArea* area_;
};
