// A titled group of radio buttons, one item selected or none, as the settings
// windows use it. Reports the item the user selected.
#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent);

    int itemIndex() const;         // -1 when nothing is selected
    void setItemIndex(int index);  // -1 clears the selection; emits nothing
    QRadioButton* button(int index) const;
    int count() const;

signals:
    void itemSelected(int index);

private:
    QButtonGroup* buttons_;
};
