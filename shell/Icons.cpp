#include "shell/Icons.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

// The icons are painted rather than taken from the style's icon theme: that
// lookup alone costs several milliseconds at start-up.
namespace {

enum class Shape {
    Folder,
    ArrowDown,
    ArrowUp,
    Disk,
    Chip,
    Bars,
    Info,
    Wave,
    Gear,
    Speaker,
    Windows
};

struct IconLook {
    Shape shape;
    QColor color;
};

const QHash<int, IconLook>& looks() {
    static const QHash<int, IconLook> table = {
        {ImageIndex::Open, {Shape::Folder, QColor(0xE0, 0xA8, 0x20)}},
        {ImageIndex::Save, {Shape::Disk, QColor(0x30, 0x60, 0xC0)}},
        {ImageIndex::SaveAs, {Shape::Disk, QColor(0x20, 0x90, 0x90)}},
        {ImageIndex::TileVertical, {Shape::Windows, QColor(0x50, 0x50, 0x90)}},
        {ImageIndex::TileHorizontal, {Shape::Windows, QColor(0x50, 0x90, 0x50)}},
        {ImageIndex::Cascade, {Shape::Windows, QColor(0x90, 0x50, 0x50)}},
        {ImageIndex::Statistics, {Shape::Bars, QColor(0x20, 0x80, 0x40)}},
        {ImageIndex::BoardInfo, {Shape::Chip, QColor(0x80, 0x40, 0xA0)}},
        {ImageIndex::Read, {Shape::ArrowDown, QColor(0x20, 0x70, 0xD0)}},
        {ImageIndex::Write, {Shape::ArrowUp, QColor(0xD0, 0x50, 0x20)}},
        {ImageIndex::TaskGroup, {Shape::Folder, QColor(0xC0, 0x90, 0x30)}},
        {ImageIndex::Trace, {Shape::Wave, QColor(0x10, 0x90, 0x70)}},
        {ImageIndex::ServiceGroup, {Shape::Gear, QColor(0x70, 0x70, 0x70)}},
        {ImageIndex::Firmware, {Shape::Chip, QColor(0xC0, 0x30, 0x30)}},
        {ImageIndex::Device, {Shape::Chip, QColor(0x20, 0x70, 0x40)}},
        {ImageIndex::Codec, {Shape::Wave, QColor(0x30, 0x50, 0xB0)}},
        {ImageIndex::Information, {Shape::Info, QColor(0x20, 0x60, 0xC0)}},
        {ImageIndex::Amplifier, {Shape::Speaker, QColor(0xB0, 0x60, 0x20)}},
        {ImageIndex::DeviceGroup, {Shape::Folder, QColor(0x40, 0x80, 0xB0)}},
        {ImageIndex::Vocoder, {Shape::Speaker, QColor(0x60, 0x40, 0xB0)}},
        {ImageIndex::Recorder, {Shape::Disk, QColor(0xB0, 0x30, 0x60)}},
    };
    return table;
}

void paintArrow(QPainter& p, bool down) {
    QPainterPath path;
    const qreal tip = down ? 14 : 2, base = down ? 8 : 8;
    path.moveTo(8, tip);
    path.lineTo(2, base);
    path.lineTo(14, base);
    path.closeSubpath();
    p.drawPath(path);
    p.drawRect(down ? QRectF(6, 2, 4, 6) : QRectF(6, 8, 4, 6));
}

void paintShape(QPainter& p, Shape shape) {
    switch (shape) {
        case Shape::Folder:
            p.drawRect(QRectF(1, 4, 14, 10));
            p.drawRect(QRectF(1, 2, 6, 3));
            break;
        case Shape::ArrowDown:
            paintArrow(p, true);
            break;
        case Shape::ArrowUp:
            paintArrow(p, false);
            break;
        case Shape::Disk:
            p.drawRect(QRectF(2, 2, 12, 12));
            p.fillRect(QRectF(5, 3, 6, 4), Qt::white);
            break;
        case Shape::Chip:
            p.drawRect(QRectF(4, 4, 8, 8));
            for (int i = 0; i < 3; ++i) {
                p.drawLine(QLineF(1, 5 + 3 * i, 15, 5 + 3 * i));
            }
            break;
        case Shape::Bars:
            for (int i = 0; i < 3; ++i) p.drawRect(QRectF(2 + 5 * i, 12 - 4 * i, 3, 3 + 4 * i));
            break;
        case Shape::Info:
            p.drawEllipse(QRectF(1, 1, 14, 14));
            p.fillRect(QRectF(7, 7, 2, 6), Qt::white);
            p.fillRect(QRectF(7, 3, 2, 2), Qt::white);
            break;
        case Shape::Wave: {
            QPainterPath path;
            path.moveTo(1, 8);
            path.cubicTo(4, 0, 6, 0, 8, 8);
            path.cubicTo(10, 16, 12, 16, 15, 8);
            p.setBrush(Qt::NoBrush);
            p.drawPath(path);
            break;
        }
        case Shape::Gear:
            p.drawEllipse(QRectF(2, 2, 12, 12));
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(6, 6, 4, 4));
            break;
        case Shape::Speaker:
            p.drawRect(QRectF(2, 6, 4, 4));
            p.drawPolygon(QPolygonF({{6, 6}, {11, 2}, {11, 14}, {6, 10}}));
            break;
        case Shape::Windows:
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1, 1, 9, 8));
            p.drawRect(QRectF(6, 6, 9, 8));
            break;
    }
}

QIcon paintIcon(const IconLook& look) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(look.color.darker(150), 1.2));
    painter.setBrush(look.color);
    paintShape(painter, look.shape);
    return QIcon(pixmap);
}

}  // namespace

QIcon ImageListIcon(int index) {
    static QHash<int, QIcon> painted;
    auto cached = painted.find(index);
    if (cached != painted.end()) return cached.value();
    auto look = looks().find(index);
    QIcon icon = look == looks().end() ? QIcon() : paintIcon(look.value());
    painted.insert(index, icon);
    return icon;
}
