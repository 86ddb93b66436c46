#include "ui/ReadingOrder.h"

#include <QGroupBox>
#include <QLayout>
#include <QList>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>
#include <algorithm>

namespace {

bool takesTabFocus(const QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) != 0;
}

// Children in rows: a child whose top lies above the middle of the row's first child joins the
// row; rows from top to bottom, each from left to right.
QList<QWidget*> inReadingOrder(QList<QWidget*> children) {
    std::stable_sort(children.begin(), children.end(), [](const QWidget* a, const QWidget* b) {
        return a->geometry().top() < b->geometry().top();
    });
    QList<QWidget*> ordered;
    for (qsizetype start = 0; start < children.size();) {
        const QRect first = children[start]->geometry();
        qsizetype end = start + 1;
        while (end < children.size() &&
               children[end]->geometry().top() < first.top() + std::max(1, first.height() / 2)) {
            ++end;
        }
        QList<QWidget*> row = children.mid(start, end - start);
        std::stable_sort(row.begin(), row.end(), [](const QWidget* a, const QWidget* b) {
            return a->geometry().left() < b->geometry().left();
        });
        ordered << row;
        start = end;
    }
    return ordered;
}

QList<QWidget*> childWidgets(const QWidget* parent) {
    QList<QWidget*> children;
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow()) children << child;
    }
    return children;
}

void collect(QWidget* widget, QList<QWidget*>& chain);

void collectTabs(QTabWidget* tabs, QList<QWidget*>& chain) {
    chain << tabs->tabBar();
    for (int index = 0; index < tabs->count(); ++index) {
        QWidget* page = tabs->widget(index);
        if (QLayout* layout = page->layout()) layout->activate();  // hidden pages too
        for (QWidget* child : inReadingOrder(childWidgets(page))) collect(child, chain);
    }
    for (Qt::Corner corner : {Qt::TopLeftCorner, Qt::TopRightCorner}) {
        if (QWidget* extra = tabs->cornerWidget(corner)) collect(extra, chain);
    }
}

// A control that takes focus (or passes it on, as a date field to its text) is one stop,
// whatever it holds; a container (a checkable group box too) is read inside.
void collect(QWidget* widget, QList<QWidget*>& chain) {
    if (auto* tabs = qobject_cast<QTabWidget*>(widget)) return collectTabs(tabs, chain);
    if (takesTabFocus(widget) || widget->focusProxy()) {
        chain << widget;
        if (!qobject_cast<QGroupBox*>(widget)) return;
    }
    if (QLayout* layout = widget->layout()) layout->activate();
    for (QWidget* child : inReadingOrder(childWidgets(widget))) collect(child, chain);
}

}  // namespace

void SetReadingTabOrder(QWidget* window) {
    if (QLayout* layout = window->layout()) layout->activate();
    QList<QWidget*> chain;
    for (QWidget* child : inReadingOrder(childWidgets(window))) collect(child, chain);
    for (qsizetype i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}
