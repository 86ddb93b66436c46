#include "shell/Icons.h"

#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <cmath>

// The icons are painted rather than taken from the desktop's icon theme: that
// lookup alone costs several milliseconds at start-up, and a theme has no
// pictures for a codec, a vocoder or a UART. Each is drawn on a 16-unit grid,
// at the size shown, with a washed-out grey twin for the disabled state.
namespace {

using Painter = void (*)(QPainter&);

const QColor kInk(0x30, 0x30, 0x30);

void pen(QPainter& p, const QColor& color, qreal width = 1.2) {
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void folder(QPainter& p, const QColor& color) {
    pen(p, color.darker(160));
    p.setBrush(color);
    QPainterPath path;
    path.moveTo(1, 3);
    path.lineTo(6, 3);
    path.lineTo(7.5, 4.5);
    path.lineTo(15, 4.5);
    path.lineTo(15, 14);
    path.lineTo(1, 14);
    path.closeSubpath();
    p.drawPath(path);
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& color) {
    pen(p, color, 2);
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1.0, std::hypot((to - from).x(), (to - from).y()));
    const QPointF n(-d.y(), d.x());
    p.setBrush(color);
    pen(p, color, 1);
    p.drawPolygon(QPolygonF({to + d * 1.5, to - d * 2.5 + n * 3, to - d * 2.5 - n * 3}));
}

void disk(QPainter& p, const QColor& color) {
    pen(p, color.darker(170));
    p.setBrush(color);
    p.drawPolygon(QPolygonF({{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}}));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 1.5, 7, 4.5));
    p.setBrush(QColor(0xE8, 0xE8, 0xE8));
    p.drawRect(QRectF(3.5, 9, 9, 5.5));
}

// A board seen from above, the ground of the board information and device icons.
void board(QPainter& p, const QColor& edge, const QColor& fill) {
    pen(p, edge, 1);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 2.5, 15, 11), 1.5, 1.5);
}

// The board's memory, which the read and write arrows leave and enter.
void tray(QPainter& p) {
    pen(p, kInk, 1.2);
    p.setBrush(QColor(0xD8, 0xD8, 0xD8));
    p.drawRect(QRectF(1.5, 11, 13, 3.5));
}

void window(QPainter& p, const QRectF& r, const QColor& title) {
    pen(p, kInk, 1);
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.fillRect(QRectF(r.left(), r.top(), r.width(), 2.5), title);
}

void chip(QPainter& p, const QRectF& body, const QColor& color) {
    pen(p, QColor(0x90, 0x90, 0x90), 1);
    for (qreal y = body.top() + 1.5; y < body.bottom() - 0.5; y += 2.5) {
        p.drawLine(QLineF(body.left() - 2, y, body.left(), y));
        p.drawLine(QLineF(body.right(), y, body.right() + 2, y));
    }
    pen(p, color.darker(170), 1);
    p.setBrush(color);
    p.drawRect(body);
}

void paintOpen(QPainter& p) {
    folder(p, QColor(0xF0, 0xC0, 0x40));
    pen(p, QColor(0xA0, 0x70, 0x10));
    p.setBrush(QColor(0xFF, 0xE0, 0x80));
    p.drawPolygon(QPolygonF({{3, 7}, {16, 7}, {13.5, 14}, {1, 14}}));
}
void paintSave(QPainter& p) {
    disk(p, QColor(0x30, 0x60, 0xC0));
}
void paintSaveAs(QPainter& p) {
    disk(p, QColor(0x30, 0x60, 0xC0));
    pen(p, QColor(0x60, 0x30, 0x00), 1);
    p.setBrush(QColor(0xF0, 0xB0, 0x30));
    p.drawPolygon(QPolygonF({{8, 15}, {8.5, 12}, {14.5, 6}, {16, 7.5}, {10, 13.5}}));
}
void paintTileVertical(QPainter& p) {
    window(p, QRectF(1, 1.5, 6.5, 13), QColor(0x30, 0x60, 0xC0));
    window(p, QRectF(8.5, 1.5, 6.5, 13), QColor(0x30, 0x60, 0xC0));
}
void paintTileHorizontal(QPainter& p) {
    window(p, QRectF(1, 1.5, 14, 6), QColor(0x30, 0x60, 0xC0));
    window(p, QRectF(1, 8.5, 14, 6), QColor(0x30, 0x60, 0xC0));
}
void paintCascade(QPainter& p) {
    for (int i = 0; i < 3; ++i)
        window(p, QRectF(1 + 3 * i, 1 + 3 * i, 8, 7), QColor(0x30, 0x60, 0xC0));
}
void paintStatistics(QPainter& p) {
    pen(p, kInk, 1);
    p.drawLine(QLineF(1, 15, 15, 15));
    p.drawLine(QLineF(1, 1, 1, 15));
    const QColor colors[] = {QColor(0xD0, 0x40, 0x30), QColor(0xE0, 0xA0, 0x20),
                             QColor(0x30, 0x90, 0x40)};
    const qreal heights[] = {5, 9, 12};
    for (int i = 0; i < 3; ++i) {
        pen(p, colors[i].darker(150), 1);
        p.setBrush(colors[i]);
        p.drawRect(QRectF(3 + 4 * i, 14 - heights[i], 3, heights[i]));
    }
}
void paintBoardInfo(QPainter& p) {
    board(p, QColor(0x50, 0x30, 0x70), QColor(0xF4, 0xEC, 0xFF));
    p.setBrush(QColor(0x80, 0x40, 0xA0));
    p.drawEllipse(QRectF(2.5, 5, 4, 4));
    p.drawRect(QRectF(2.5, 9.5, 4, 2));
    pen(p, QColor(0x80, 0x40, 0xA0), 1.2);
    for (qreal y : {6.0, 8.5, 11.0}) p.drawLine(QLineF(8.5, y, 13.5, y));
}
void paintRead(QPainter& p) {
    tray(p);
    arrow(p, {8, 1}, {8, 8}, QColor(0x20, 0x70, 0xD0));
}
void paintWrite(QPainter& p) {
    tray(p);
    arrow(p, {8, 9}, {8, 2.5}, QColor(0xD0, 0x50, 0x20));
}
void paintTaskGroup(QPainter& p) {
    folder(p, QColor(0xF0, 0xC0, 0x40));
    pen(p, QColor(0x20, 0x80, 0x20), 2);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{4.5, 9.5}, {7, 12}, {12, 6.5}}));
}
void paintTrace(QPainter& p) {
    pen(p, kInk, 1);
    p.setBrush(QColor(0x10, 0x30, 0x20));
    p.drawRoundedRect(QRectF(0.5, 1.5, 15, 13), 1.5, 1.5);
    pen(p, QColor(0x40, 0xF0, 0x80), 1.2);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF(
        {{2, 11}, {4, 11}, {4, 5}, {7, 5}, {7, 11}, {9, 11}, {9, 5}, {12, 5}, {12, 11}, {14, 11}}));
}
void paintServiceGroup(QPainter& p) {
    const QColor color(0x70, 0x78, 0x80);
    pen(p, color.darker(160), 1);
    p.setBrush(color);
    QPolygonF gear;
    for (int i = 0; i < 16; ++i) {
        const qreal angle = i * M_PI / 8;
        const qreal radius = (i % 2 == 0) ? 7.3 : 5.3;
        gear << QPointF(8 + radius * std::cos(angle), 8 + radius * std::sin(angle));
    }
    p.drawPolygon(gear);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
}
void paintFirmware(QPainter& p) {
    chip(p, QRectF(4, 7, 8, 8), QColor(0x30, 0x30, 0x30));
    arrow(p, {8, 0.5}, {8, 5}, QColor(0xD0, 0x30, 0x30));
}
void paintDevice(QPainter& p) {
    board(p, QColor(0x10, 0x50, 0x20), QColor(0x30, 0x90, 0x50));
    p.setBrush(QColor(0x20, 0x20, 0x20));
    p.drawRect(QRectF(6, 5, 5, 5));
    p.setBrush(QColor(0xC0, 0xC0, 0xC8));
    p.drawRect(QRectF(0.5, 6, 3, 4));
    p.setBrush(QColor(0xF0, 0xD0, 0x40));
    p.drawEllipse(QRectF(12, 10, 2, 2));
}
void paintCodec(QPainter& p) {
    chip(p, QRectF(3, 3, 10, 10), QColor(0x30, 0x50, 0xB0));
    pen(p, Qt::white, 1.2);
    p.setBrush(Qt::NoBrush);
    QPainterPath wave;
    wave.moveTo(4, 8);
    wave.cubicTo(5.5, 3.5, 6.5, 3.5, 8, 8);
    wave.cubicTo(9.5, 12.5, 10.5, 12.5, 12, 8);
    p.drawPath(wave);
}
void paintInformation(QPainter& p) {
    pen(p, QColor(0x10, 0x40, 0x90), 1);
    p.setBrush(QColor(0x20, 0x60, 0xC0));
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(7, 6.5, 2, 6.5));
    p.drawEllipse(QRectF(6.8, 3, 2.4, 2.4));
}
void paintAmplifier(QPainter& p) {
    pen(p, kInk, 1.2);
    p.drawLine(QLineF(0.5, 8, 3, 8));
    p.drawLine(QLineF(12.5, 8, 15.5, 8));
    p.setBrush(QColor(0xE0, 0x80, 0x30));
    p.drawPolygon(QPolygonF({{3, 2}, {3, 14}, {13, 8}}));
    pen(p, Qt::white, 1.2);
    p.drawLine(QLineF(4.5, 6, 7, 6));
    p.drawLine(QLineF(5.75, 4.75, 5.75, 7.25));
}
void paintUart(QPainter& p) {
    pen(p, kInk, 1);
    p.setBrush(QColor(0xB0, 0xB8, 0xC0));
    p.drawPolygon(QPolygonF({{0.5, 4}, {15.5, 4}, {13.5, 12}, {2.5, 12}}));
    p.setBrush(QColor(0x30, 0x30, 0x30));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) p.drawEllipse(QRectF(2.6 + 2.3 * i, 5.6, 1.6, 1.6));
    for (int i = 0; i < 4; ++i) p.drawEllipse(QRectF(3.8 + 2.3 * i, 8.6, 1.6, 1.6));
}
void paintDeviceGroup(QPainter& p) {
    folder(p, QColor(0x60, 0xA0, 0xD0));
    pen(p, QColor(0x10, 0x50, 0x20), 0.8);
    p.setBrush(QColor(0x30, 0x90, 0x50));
    p.drawRect(QRectF(5, 7.5, 8, 5));
    p.setBrush(QColor(0x20, 0x20, 0x20));
    p.drawRect(QRectF(8, 8.5, 3, 3));
}
void paintVocoder(QPainter& p) {
    const QColor color(0x60, 0x40, 0xB0);
    pen(p, color.darker(160), 1);
    p.setBrush(color);
    p.drawRoundedRect(QRectF(5.5, 1, 5, 8.5), 2.5, 2.5);
    p.setBrush(Qt::NoBrush);
    pen(p, kInk, 1.2);
    p.drawArc(QRectF(3.5, 4, 9, 8), 180 * 16, 180 * 16);
    p.drawLine(QLineF(8, 12, 8, 14.5));
    p.drawLine(QLineF(5, 14.5, 11, 14.5));
}
void paintRecorder(QPainter& p) {
    pen(p, kInk, 1);
    p.setBrush(QColor(0x50, 0x50, 0x58));
    p.drawRoundedRect(QRectF(0.5, 3, 15, 10), 1.5, 1.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(2.5, 5, 4, 4));
    p.drawEllipse(QRectF(9.5, 5, 4, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE0, 0x20, 0x20));
    p.drawEllipse(QRectF(6.3, 9.3, 3.4, 3.4));
}

const QHash<int, Painter>& painters() {
    static const QHash<int, Painter> table = {
        {ImageIndex::Open, paintOpen},
        {ImageIndex::Save, paintSave},
        {ImageIndex::SaveAs, paintSaveAs},
        {ImageIndex::TileVertical, paintTileVertical},
        {ImageIndex::TileHorizontal, paintTileHorizontal},
        {ImageIndex::Cascade, paintCascade},
        {ImageIndex::Statistics, paintStatistics},
        {ImageIndex::BoardInfo, paintBoardInfo},
        {ImageIndex::Read, paintRead},
        {ImageIndex::Write, paintWrite},
        {ImageIndex::TaskGroup, paintTaskGroup},
        {ImageIndex::Trace, paintTrace},
        {ImageIndex::ServiceGroup, paintServiceGroup},
        {ImageIndex::Firmware, paintFirmware},
        {ImageIndex::Device, paintDevice},
        {ImageIndex::Codec, paintCodec},
        {ImageIndex::Information, paintInformation},
        {ImageIndex::Amplifier, paintAmplifier},
        {ImageIndex::Uart, paintUart},
        {ImageIndex::DeviceGroup, paintDeviceGroup},
        {ImageIndex::Vocoder, paintVocoder},
        {ImageIndex::Recorder, paintRecorder},
    };
    return table;
}

QPixmap paintAt(Painter paint, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    paint(painter);
    return pixmap;
}

// Grey, light and half transparent: plainly unavailable on any background.
QPixmap disabledTwin(const QPixmap& normal) {
    QImage image = normal.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 9 / 20);
        }
    }
    return QPixmap::fromImage(image);
}

// Paints a picture the first time it is shown at a size and state: most icons are never shown
// at twice the size or disabled, and a menu's icons not before the menu opens, so start-up
// paints only what the window shows.
class PaintedIconEngine : public QIconEngine {
public:
    explicit PaintedIconEngine(Painter paint) : paint_(paint) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const int side = std::max(1, std::min(size.width(), size.height()));
        const bool disabled = mode == QIcon::Disabled;
        const qint64 key = qint64(side) * 2 + (disabled ? 1 : 0);
        if (const auto cached = cache_.constFind(key); cached != cache_.constEnd()) {
            return cached.value();
        }
        const QPixmap normal = paintAt(paint_, side);
        const QPixmap shown = disabled ? disabledTwin(normal) : normal;
        cache_.insert(key, shown);
        return shown;
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {QSize(kIconSize, kIconSize), QSize(2 * kIconSize, 2 * kIconSize)};
    }
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("PaintedIconEngine"); }
    QIconEngine* clone() const override { return new PaintedIconEngine(*this); }

private:
    Painter paint_;
    QHash<qint64, QPixmap> cache_;
};

}  // namespace

QIcon ImageListIcon(int index) {
    static QHash<int, QIcon> painted;
    auto cached = painted.find(index);
    if (cached != painted.end()) return cached.value();
    auto paint = painters().find(index);
    QIcon icon = paint == painters().end() ? QIcon() : QIcon(new PaintedIconEngine(paint.value()));
    painted.insert(index, icon);
    return icon;
}

QList<int> ImageListIndexes() {
    QList<int> indexes = painters().keys();
    std::sort(indexes.begin(), indexes.end());
    return indexes;
}
