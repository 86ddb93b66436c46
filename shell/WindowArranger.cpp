#include "shell/WindowArranger.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyle>
#include <algorithm>
#include <optional>

namespace {

using Windows = QList<WindowArranger::Window>;

// Of a title bar in view at least this many steps are left uncovered and inside the area.
constexpr int kTitleShownSteps = 4;

qint64 areaOf(const QRect& rect) {
    return rect.isEmpty() ? 0 : qint64(rect.width()) * rect.height();
}

bool isFree(const QRect& rect, QSize area, const QList<QRect>& placed) {
    if (!QRect(QPoint(0, 0), area).contains(rect)) return false;
    return std::none_of(placed.begin(), placed.end(),
                        [&rect](const QRect& other) { return other.intersects(rect); });
}

// A rectangle that fits somewhere still fits when pushed left and up as far as it goes, where
// it lies at x = 0 or right of a placed one and at y = 0 or below one: only those corners are
// tried, in reading order of the rows (or of the columns).
QList<QPoint> corners(const QList<QRect>& placed, Qt::Orientation along) {
    QList<int> xs{0}, ys{0};
    for (const QRect& rect : placed) {
        xs << rect.right() + 1;
        ys << rect.bottom() + 1;
    }
    QList<QPoint> points;
    for (int x : xs) {
        for (int y : ys) points << QPoint(x, y);
    }
    const bool rows = along == Qt::Horizontal;
    std::sort(points.begin(), points.end(), [rows](QPoint a, QPoint b) {
        return rows ? std::pair(a.y(), a.x()) < std::pair(b.y(), b.x())
                    : std::pair(a.x(), a.y()) < std::pair(b.x(), b.y());
    });
    return points;
}

std::optional<QRect> firstFree(QSize size, QSize area, const QList<QRect>& placed,
                               Qt::Orientation along) {
    for (QPoint corner : corners(placed, along)) {
        const QRect rect(corner, size);
        if (isFree(rect, area, placed)) return rect;
    }
    return std::nullopt;
}

// The largest empty rectangle of at least this size; each of its edges lies on an edge of the
// area or of a placed rectangle.
std::optional<QRect> largestFree(QSize minimum, QSize area, const QList<QRect>& placed) {
    QList<int> lefts{0}, tops{0}, rights{area.width()}, bottoms{area.height()};
    for (const QRect& rect : placed) {
        lefts << rect.right() + 1;
        tops << rect.bottom() + 1;
        rights << rect.left();
        bottoms << rect.top();
    }
    std::optional<QRect> best;
    for (int left : lefts) {
        for (int right : rights) {
            if (right - left < minimum.width()) continue;
            for (int top : tops) {
                for (int bottom : bottoms) {
                    const QRect rect(left, top, right - left, bottom - top);
                    if (rect.height() < minimum.height()) continue;
                    if (best && areaOf(rect) <= areaOf(*best)) continue;
                    if (isFree(rect, area, placed)) best = rect;
                }
            }
        }
    }
    return best;
}

// Offsets a cascade may be moved by: on the steps' grid and flush with the far edges, so that
// the whole cascade stays inside where it can, and its title bars at least.
QList<int> offsets(int room, int step) {
    QList<int> values;
    for (int value = 0; value < room; value += step) values << value;
    values << std::max(0, room);
    return values;
}

// What a cascade at this offset costs: first its parts outside the area, then the parts of the
// windows below it that it covers. None at all when one of its windows would lie exactly at the
// place of one below.
using Cost = std::pair<qint64, qint64>;
std::optional<Cost> coverCost(const QList<QRect>& cascade, QPoint offset, QSize area,
                              const QList<QRect>& placed) {
    Cost cost{0, 0};
    const QRect inside(QPoint(0, 0), area);
    for (QRect rect : cascade) {
        rect.translate(offset);
        cost.first += areaOf(rect) - areaOf(rect.intersected(inside));
        for (const QRect& below : placed) {
            if (below.topLeft() == rect.topLeft()) return std::nullopt;
            cost.second += areaOf(below.intersected(rect));
        }
    }
    return cost;
}

// The windows no room was left for, as a cascade moved to where it covers the placed ones least.
QList<QRect> cascadeOver(const QList<QSize>& sizes, QSize area, const QList<QRect>& placed,
                         Qt::Orientation along, int step) {
    QList<QRect> cascade;
    const QList<QPoint> points = WindowArranger::cascaded(sizes, area, step);
    QRect bounds;
    QRect titles;  // what has to stay inside: the shown part of each title bar
    for (int i = 0; i < sizes.size(); ++i) {
        cascade << QRect(points[i], sizes[i]);
        bounds |= cascade.last();
        titles |= QRect(points[i], QSize(kTitleShownSteps * step, step));
    }
    const QRect kept = QRect(QPoint(0, 0), area).contains(bounds) ? bounds : titles;
    const QList<int> xs = offsets(area.width() - kept.right() - 1, step);
    const QList<int> ys = offsets(area.height() - kept.bottom() - 1, step);
    QPoint best(step / 2, step / 2);
    std::optional<Cost> bestCost;
    const bool rows = along == Qt::Horizontal;
    for (int outer : rows ? ys : xs) {
        for (int inner : rows ? xs : ys) {
            const QPoint offset = rows ? QPoint(inner, outer) : QPoint(outer, inner);
            const std::optional<Cost> cost = coverCost(cascade, offset, area, placed);
            if (cost && (!bestCost || *cost < *bestCost)) {
                bestCost = cost;
                best = offset;
            }
        }
    }
    for (QRect& rect : cascade) rect.translate(best);
    return cascade;
}

QRect rectOf(const QRect& rect) {
    return rect;
}
QRect rectOf(const WindowArranger::Place& place) {
    return place.rect;
}

}  // namespace

QList<WindowArranger::Place> WindowArranger::tiled(const Windows& windows, QSize area,
                                                   Qt::Orientation along, int step) {
    QList<std::optional<QRect>> places(windows.size());
    QList<QRect> placed;
    for (int i = 0; i < windows.size(); ++i) {
        if (windows[i].resizable) continue;
        places[i] = firstFree(windows[i].size, area, placed, along);
        if (places[i]) placed << *places[i];
    }
    // A resizable window takes what is left, once the fixed ones are laid.
    for (int i = 0; i < windows.size(); ++i) {
        if (!windows[i].resizable) continue;
        places[i] = largestFree(windows[i].minimum, area, placed);
        if (places[i]) placed << *places[i];
    }
    QList<QSize> restSizes;
    for (int i = 0; i < windows.size(); ++i) {
        if (!places[i]) restSizes << windows[i].size.boundedTo(area).expandedTo(windows[i].minimum);
    }
    const QList<QRect> rest = cascadeOver(restSizes, area, placed, along, step);
    QList<Place> result;
    int next = 0;
    for (const std::optional<QRect>& place : places) {
        result << (place ? Place{*place, false} : Place{rest[next++], true});
    }
    return result;
}

// One step right of and below the last, from the corner: a title bar is covered by none of
// those that follow. Only when the title bars would leave the bottom does a new run start at the
// top, half a step further right than the last began, so no two windows share a place.
QList<QPoint> WindowArranger::cascaded(const QList<QSize>& sizes, QSize area, int step) {
    const int perRun = std::max(1, area.height() / step);
    const int shownWidth = kTitleShownSteps * step;
    const int widthRoom = std::max(step, area.width() - shownWidth + 1);
    QList<QPoint> points;
    for (int k = 0; k < sizes.size(); ++k) {
        const int run = k / perRun, inRun = k % perRun;
        const int x = (k * step + run * (step / 2)) % widthRoom;
        points << QPoint(x, inRun * step);
    }
    return points;
}

// --- on the client area -------------------------------------------------------

// The frames the arranging commands move: shown, not minimised, none left maximised.
QList<QMdiSubWindow*> WindowArranger::arrangedFrames() const {
    QList<QMdiSubWindow*> frames;
    for (QMdiSubWindow* frame : area_->subWindowList(QMdiArea::CreationOrder)) {
        if (!frame->isVisible() || frame->isMinimized()) continue;
        if (frame->isMaximized()) frame->showNormal();
        frames << frame;
    }
    return frames;
}

// All of the area while every window stays inside it; less its scroll bars, which then appear,
// once one hangs out.
template <typename Arrange>
auto WindowArranger::inRoom(Arrange arrange) const {
    const QSize whole = area_->contentsRect().size();
    auto places = arrange(whole);
    const QRect inside(QPoint(0, 0), whole);
    for (const auto& place : places) {
        if (!inside.contains(rectOf(place))) {
            const int bar = area_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area_);
            return arrange(whole - QSize(bar, bar));
        }
    }
    return places;
}

// The title bar with the frame's edge above it: what a window one step lower leaves in view.
int WindowArranger::titleStep(const QList<QMdiSubWindow*>& frames) const {
    int step = 10;
    for (const QMdiSubWindow* frame : frames) {
        if (frame->widget()) step = std::max(step, frame->widget()->geometry().top());
    }
    return step;
}

void WindowArranger::tile(Qt::Orientation along) const {
    const QList<QMdiSubWindow*> frames = arrangedFrames();
    QList<Window> windows;
    for (const QMdiSubWindow* frame : frames) {
        const bool resizable = frame->minimumSize() != frame->maximumSize();
        windows << Window{frame->size(), resizable ? frame->minimumSizeHint() : frame->size(),
                          resizable};
    }
    const int step = titleStep(frames);
    const QList<Place> places =
        inRoom([&](QSize room) { return tiled(windows, room, along, step); });
    for (int i = 0; i < frames.size(); ++i) frames[i]->setGeometry(places[i].rect);
    // The cascaded ones in front of the tiled, in order; the active window stays active.
    for (bool cascaded : {false, true}) {
        for (int i = 0; i < frames.size(); ++i) {
            if (places[i].cascaded == cascaded) frames[i]->raise();
        }
    }
}

void WindowArranger::cascade() const {
    const QList<QMdiSubWindow*> frames = arrangedFrames();
    QList<QSize> sizes;
    for (const QMdiSubWindow* frame : frames) sizes << frame->size();
    const int step = titleStep(frames);
    const QList<QRect> places = inRoom([&](QSize room) {
        QList<QRect> rects;
        const QList<QPoint> points = cascaded(sizes, room, step);
        for (int i = 0; i < sizes.size(); ++i) rects << QRect(points[i], sizes[i]);
        return rects;
    });
    for (int i = 0; i < frames.size(); ++i) {
        frames[i]->move(places[i].topLeft());
        frames[i]->raise();
    }
    if (!frames.isEmpty()) area_->setActiveSubWindow(frames.last());
}

void WindowArranger::arrangeIcons() const {
    const QRect area = area_->viewport()->rect();
    int x = 0, rowBottom = area.bottom() + 1, rowHeight = 0;
    for (QMdiSubWindow* frame : area_->subWindowList(QMdiArea::CreationOrder)) {
        if (!frame->isMinimized()) continue;
        if (x > 0 && x + frame->width() > area.width()) {
            x = 0;
            rowBottom -= rowHeight;
            rowHeight = 0;
        }
        frame->move(x, rowBottom - frame->height());
        x += frame->width();
        rowHeight = std::max(rowHeight, frame->height());
    }
}
