#include "editors/RadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <QSignalBlocker>

RadioGroup::RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(title, parent), buttons_(new QButtonGroup(this)) {
    setAccessibleName(title);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setVerticalSpacing(0);
    const int rows = (int(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setAccessibleName(items[i]);
        buttons_->addButton(button, i);
        layout->addWidget(button, i % rows, i / rows);
    }
    connect(buttons_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) emit itemSelected(id);
    });
}

int RadioGroup::itemIndex() const {
    return buttons_->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    const QSignalBlocker quiet(buttons_);
    if (index < 0) {
        buttons_->setExclusive(false);
        for (QAbstractButton* button : buttons_->buttons()) button->setChecked(false);
        buttons_->setExclusive(true);
        return;
    }
    if (QAbstractButton* button = buttons_->button(index)) button->setChecked(true);
}

QRadioButton* RadioGroup::button(int index) const {
    return qobject_cast<QRadioButton*>(buttons_->button(index));
}

int RadioGroup::count() const {
    return int(buttons_->buttons().size());
}
