#pragma once

#include <QAbstractScrollArea>
#include <algorithm>
#include <compare>
#include <cstdint>
#include <string_view>
#include <vector>

#include "link/LinkTypes.h"
#include "monitor/TraceLineStore.h"

class QAction;
class QPainter;

// The trace window's append-only log: one text row per trace record, kept as
// compact UTF-8 (the last lines only, see TraceLineStore) and painted only where
// visible, so that appending stays cheap however long the trace runs. Any
// stretch of text, across lines too, is selected with the mouse (Shift extends)
// and copied with Ctrl+C or the context menu, which also selects all and saves
// the whole log to a file; the window may add its own items to that menu.
class TraceLog : public QAbstractScrollArea {
    Q_OBJECT
public:
    // A place in the text: a line and a character in it. The line after the
    // last, column 0, is the end of the last line's break.
    struct Position {
        std::size_t line = 0;
        int column = 0;
        auto operator<=>(const Position&) const = default;
    };

    explicit TraceLog(QWidget* parent = nullptr);

    void appendLines(const TraceLines& lines);
    // Rows shown, the one about dropped lines included.
    std::size_t lineCount() const { return store_.rowCount(); }
    void setLineLimit(std::size_t limit);
    std::size_t droppedLines() const { return store_.droppedLines(); }
    QString line(std::size_t index) const;
    QString selectedText() const;
    void select(Position from, Position to);
    void selectAll();
    bool hasSelection() const { return anchor_ != cursor_; }
    int selectionStartOffset() const { return offsetOf(std::min(anchor_, cursor_)); }
    int selectionEndOffset() const { return offsetOf(std::max(anchor_, cursor_)); }
    int cursorOffset() const { return offsetOf(cursor_); }
    void scrollToLine(std::size_t index);
    // The whole log as saved: UTF-8, each line followed by a line break.
    QByteArray savedText() const;
    // Asks for a file name (through the dialogs seam) and writes the log there.
    void saveToFile();
    std::size_t textBytes() const { return store_.textBytes(); }
    bool isAtEnd() const;

    // The whole text as screen readers see it: lines joined by line breaks,
    // offsets in characters.
    int characterCount() const;
    Position positionAt(int offset) const;
    int offsetOf(Position position) const;
    QString textBetween(int from, int to) const;
    QPoint pointOf(Position position) const;  // viewport coordinates, top left of the character
    Position positionAtPoint(QPoint viewportPoint) const;

    QAction* copyAction() const { return copy_; }
    QAction* selectAllAction() const { return selectAll_; }
    QAction* saveAction() const { return save_; }
    // An item of the window's own, shown after the log's items in the context menu.
    void addMenuAction(QAction* action) { extraActions_.push_back(action); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::string_view lineBytes(std::size_t index) const { return store_.row(index); }
    void rowsDropped(std::size_t rows);
    void announceAppend(const QString& removed, std::size_t newLines);
    bool opensWithEmptyLine() const;
    int lineHeight() const;
    int visibleLineCount() const;
    std::size_t lineAt(int y) const;
    int columnAt(const QString& text, int x) const;
    void updateScrollRanges();
    void copySelection() const;
    void selectionChanged();
    void paintSelection(QPainter& painter, std::size_t index, const QString& text, int top) const;

    TraceLineStore store_;
    Position anchor_, cursor_;  // the selection runs between them
    QAction* copy_ = nullptr;
    QAction* selectAll_ = nullptr;
    QAction* save_ = nullptr;
    std::vector<QAction*> extraActions_;
};
