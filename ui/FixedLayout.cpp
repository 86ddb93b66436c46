#include "ui/FixedLayout.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace {

// Controls the window itself placed: its children and those of its plain
// panels and groups, not the inner parts of a composite control.
bool isPlacedByWindow(const QWidget* widget, const QWidget* window) {
    const QWidget* parent = widget->parentWidget();
    if (!parent || parent->layout() || widget->isWindow()) return false;
    if (parent == window) return true;
    const QByteArray kind = parent->metaObject()->className();
    return (kind == "QFrame" || kind == "QGroupBox" || kind == "QWidget") &&
           isPlacedByWindow(parent, window);
}

QList<QWidget*> placedControls(QWidget* window) {
    QList<QWidget*> placed;
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (isPlacedByWindow(child, window)) placed << child;
    }
    return placed;
}

// The width a control needs for its text; 0 when it has none to fit.
int neededWidth(const QWidget* control, const QString& text) {
    const QFontMetrics metrics(control->font());
    if (auto* label = qobject_cast<const QLabel*>(control)) {
        if (label->wordWrap() || !label->pixmap().isNull()) return 0;
        const QMargins margins = label->contentsMargins();
        return metrics.horizontalAdvance(text) + margins.left() + margins.right() +
               2 * label->margin() + std::max(0, label->indent());
    }
    if (qobject_cast<const QLineEdit*>(control)) {
        // A line edit's frame and text margins take about two spaces.
        return metrics.horizontalAdvance(text) + 2 * metrics.horizontalAdvance(' ') + 6;
    }
    if (qobject_cast<const QAbstractButton*>(control)) return control->sizeHint().width();
    if (auto* group = qobject_cast<const QGroupBox*>(control)) {
        return metrics.horizontalAdvance(group->title()) + 2 * metrics.height();
    }
    return 0;
}

QString shownText(const QWidget* control) {
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (auto* field = qobject_cast<const QLineEdit*>(control)) return field->text();
    return {};
}

int neededHeight(const QWidget* control) {
    if (qobject_cast<const QLabel*>(control) || qobject_cast<const QAbstractButton*>(control) ||
        qobject_cast<const QLineEdit*>(control) || qobject_cast<const QComboBox*>(control)) {
        return control->minimumSizeHint().height();
    }
    return 0;
}

bool hasFixedSize(const QWidget* control) {
    return control->minimumSize() == control->maximumSize();
}

}  // namespace

double LayoutScale(const QWidget* widget) {
    constexpr double kDesignHeight = 13, kDesignCharWidth = 5;
    const QFontMetrics metrics(widget->font());
    return std::max(
        {1.0, metrics.height() / kDesignHeight, metrics.averageCharWidth() / kDesignCharWidth});
}

QSize ScaledSize(const QWidget* widget, QSize designSize) {
    const double scale = LayoutScale(widget);
    return {int(std::ceil(designSize.width() * scale)),
            int(std::ceil(designSize.height() * scale))};
}

QString WidestDeviceIdText(const QWidget* widget) {
    const QFontMetrics metrics(widget->font());
    QChar widest = '0';
    for (QChar digit : QStringLiteral("0123456789ABCDEF")) {
        if (metrics.horizontalAdvance(digit) > metrics.horizontalAdvance(widest)) widest = digit;
    }
    return QStringLiteral("0x") + QString(16, widest);
}

void FitFixedLayout(QWidget* window, QSize designSize,
                    const QList<QPair<QWidget*, QString>>& widestTexts) {
    const QList<QWidget*> controls = placedControls(window);
    double across = 1.0, down = 1.0;
    const auto require = [&](const QWidget* control, int width, int height) {
        if (control->width() > 0 && width > control->width())
            across = std::max(across, double(width) / control->width());
        if (control->height() > 0 && height > control->height() && !hasFixedSize(control))
            down = std::max(down, double(height) / control->height());
    };
    for (const QWidget* control : controls) {
        require(control, neededWidth(control, shownText(control)), neededHeight(control));
    }
    for (const auto& [control, text] : widestTexts) require(control, neededWidth(control, text), 0);
    if (across == 1.0 && down == 1.0) {
        window->setFixedSize(designSize);
        return;
    }
    for (QWidget* control : controls) {
        const QRect was = control->geometry();
        const QPoint at(int(std::lround(was.x() * across)), int(std::lround(was.y() * down)));
        const QSize size = hasFixedSize(control) ? was.size()
                                                 : QSize(int(std::ceil(was.width() * across)),
                                                         int(std::ceil(was.height() * down)));
        control->setGeometry(QRect(at, size));
    }
    window->setFixedSize(int(std::ceil(designSize.width() * across)),
                         int(std::ceil(designSize.height() * down)));
}
