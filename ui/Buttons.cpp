#include "ui/Buttons.h"

#include <QKeyEvent>
#include <QPushButton>

QPushButton* MakeButton(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    return button;
}

QPushButton* MakeDefaultButton(const QString& caption, const char* name, QWidget* parent,
                               const QRect& geometry) {
    QPushButton* button = MakeButton(caption, name, parent);
    button->setGeometry(geometry);
    button->setDefault(true);
    return button;
}

bool IsEnterKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

bool IsEnterPress(const QEvent* event) {
    return event->type() == QEvent::KeyPress && IsEnterKey(static_cast<const QKeyEvent*>(event));
}
