#pragma once

#include <QAbstractScrollArea>
#include <algorithm>
#include <compare>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "link/LinkTypes.h"

class QAction;
class QPainter;

// The trace window's append-only log: one text row per trace record, kept as
// compact UTF-8 and painted only where visible, so that appending stays cheap
// however long the log grows. Any stretch of text, across lines too, is
// selected with the mouse (Shift extends) and copied with Ctrl+C or the
// context menu, which also selects all and saves the whole log to a file.
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
    std::size_t lineCount() const { return lines_.size(); }
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
    std::size_t textBytes() const { return textBytes_; }
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

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::string_view lineBytes(std::size_t index) const;
    int lineHeight() const;
    int visibleLineCount() const;
    std::size_t lineAt(int y) const;
    int columnAt(const QString& text, int x) const;
    void updateScrollRanges();
    void copySelection() const;
    void selectionChanged();
    void paintSelection(QPainter& painter, std::size_t index, const QString& text, int top) const;

    // Where a line lies: chunk, offset and length. Text goes into chunks of
    // fixed capacity and the index into a deque, so appending never moves
    // what is already stored, however large the log has grown.
    struct LineRef {
        std::uint32_t chunk;
        std::uint32_t offset;
        std::uint32_t length;
        std::uint32_t characters;  // UTF-16 units, as QString counts them
        std::uint64_t textStart;   // character offset of the line in the whole text
    };
    static constexpr std::size_t kChunkBytes = 1 << 20;
    void store(const std::string& line);

    std::vector<std::string> chunks_;
    std::deque<LineRef> lines_;
    std::size_t textBytes_ = 0;
    std::size_t longestLine_ = 0;   // in characters, for the horizontal range
    std::uint64_t characters_ = 0;  // of the whole text, line breaks included
    Position anchor_, cursor_;      // the selection runs between them
    QAction* copy_ = nullptr;
    QAction* selectAll_ = nullptr;
    QAction* save_ = nullptr;
};
