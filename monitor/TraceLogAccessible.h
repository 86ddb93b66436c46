#pragma once

#include <QAccessibleWidget>

#include "monitor/TraceLog.h"

// What screen readers get of the log: read-only multi-line text with its selection.
class TraceLogAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TraceLogAccessible(TraceLog* log)
        : QAccessibleWidget(log, QAccessible::EditableText) {}
    static QAccessibleInterface* create(const QString& key, QObject* object) {
        auto* log = qobject_cast<TraceLog*>(object);
        return key == QLatin1String("TraceLog") && log ? new TraceLogAccessible(log) : nullptr;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) return log()->textBetween(0, log()->characterCount());
        return QAccessibleWidget::text(kind);
    }

    void selection(int index, int* start, int* end) const override {
        const bool any = index == 0 && log()->hasSelection();
        *start = any ? log()->selectionStartOffset() : 0;
        *end = any ? log()->selectionEndOffset() : 0;
    }
    int selectionCount() const override { return log()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { setCursorPosition(cursorPosition()); }
    void setSelection(int, int start, int end) override {
        log()->select(log()->positionAt(start), log()->positionAt(end));
    }
    int cursorPosition() const override { return log()->cursorOffset(); }
    void setCursorPosition(int position) override {
        log()->select(log()->positionAt(position), log()->positionAt(position));
    }
    QString text(int start, int end) const override { return log()->textBetween(start, end); }
    int characterCount() const override { return log()->characterCount(); }
    QRect characterRect(int offset) const override {
        const QPoint at = log()->pointOf(log()->positionAt(offset));
        const QFontMetrics metrics = log()->fontMetrics();
        return QRect(log()->viewport()->mapToGlobal(at),
                     QSize(metrics.horizontalAdvance('0'), metrics.height()));
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint inside = log()->viewport()->mapFromGlobal(point);
        return log()->offsetOf(log()->positionAtPoint(inside));
    }
    void scrollToSubstring(int start, int) override {
        log()->scrollToLine(log()->positionAt(start).line);
    }
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

private:
    TraceLog* log() const { return static_cast<TraceLog*>(widget()); }
};
