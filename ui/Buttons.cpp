#include "ui/Buttons.h"

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
