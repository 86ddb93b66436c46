#include "monitor/TraceLog.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

#include "monitor/TraceLogAccessible.h"
#include "ui/AtomicSave.h"

namespace {
constexpr int kTextMargin = 2;

}  // namespace

TraceLog::TraceLog(QWidget* parent) : QAbstractScrollArea(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);

    copy_ = new QAction(QStringLiteral("Копировать"), this);
    copy_->setObjectName("MCopy");
    copy_->setShortcut(QKeySequence::Copy);
    copy_->setEnabled(false);
    connect(copy_, &QAction::triggered, this, &TraceLog::copySelection);
    selectAll_ = new QAction(QStringLiteral("Выделить все"), this);
    selectAll_->setObjectName("MSelectAll");
    selectAll_->setShortcut(QKeySequence::SelectAll);
    connect(selectAll_, &QAction::triggered, this, &TraceLog::selectAll);
    save_ = new QAction(QStringLiteral("Сохранить в файл…"), this);
    save_->setObjectName("MSaveToFile");
    connect(save_, &QAction::triggered, this, &TraceLog::saveToFile);
    QAccessible::installFactory(TraceLogAccessible::create);
}

void TraceLog::appendLines(const TraceLines& lines) {
    if (lines.empty()) return;
    const bool followEnd = isAtEnd();
    const bool announce = QAccessible::isActive();
    const std::size_t leaving = store_.rowsLeavingWith(lines.size());
    const QString removed =
        announce && leaving > 0 ? textBetween(0, offsetOf({leaving, 0})) : QString();
    const std::size_t droppedRows = store_.append(lines);
    updateScrollRanges();
    if (droppedRows > 0) rowsDropped(droppedRows);
    if (followEnd) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
    if (announce) announceAppend(removed, std::min(lines.size(), store_.lineLimit()));
}

// Screen readers hear the rows that went from the top, the row saying so, and the new lines.
void TraceLog::announceAppend(const QString& removed, std::size_t newLines) {
    if (!removed.isEmpty()) {
        QAccessibleTextRemoveEvent gone(this, 0, removed);
        QAccessible::updateAccessibility(&gone);
        if (droppedLines() > 0) {
            QAccessibleTextInsertEvent notice(this, 0, line(0) + QLatin1Char('\n'));
            QAccessible::updateAccessibility(&notice);
        }
    }
    const int from = offsetOf({lineCount() - newLines, 0});
    QAccessibleTextInsertEvent inserted(this, from, textBetween(from, characterCount()));
    QAccessible::updateAccessibility(&inserted);
}

void TraceLog::setLineLimit(std::size_t limit) {
    const std::size_t droppedRows = store_.setLineLimit(limit);
    updateScrollRanges();
    if (droppedRows > 0) rowsDropped(droppedRows);
    viewport()->update();
}

// The rows that stay moved up: the view and the selection stay on the same text, as far as it
// is still there.
void TraceLog::rowsDropped(std::size_t rows) {
    const auto moved = [rows](Position p) {
        return p.line >= rows ? Position{p.line - rows, p.column} : Position{};
    };
    anchor_ = moved(anchor_);
    cursor_ = moved(cursor_);
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(int(std::max<long>(0, long(bar->value()) - long(rows))));
    selectionChanged();
}

QString TraceLog::line(std::size_t index) const {
    if (index >= lineCount()) return {};
    const std::string_view bytes = lineBytes(index);
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool TraceLog::isAtEnd() const {
    return verticalScrollBar()->value() == verticalScrollBar()->maximum();
}

int TraceLog::lineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int TraceLog::visibleLineCount() const {
    return std::max(1, viewport()->height() / lineHeight());
}

std::size_t TraceLog::lineAt(int y) const {
    const long row = verticalScrollBar()->value() + std::max(0, y) / lineHeight();
    return std::min<std::size_t>(static_cast<std::size_t>(row), lineCount() - 1);
}

// The character boundary nearest to x (viewport coordinates). Widths of whole
// prefixes, as the text is drawn, not sums of rounded character widths.
int TraceLog::columnAt(const QString& text, int x) const {
    const qreal target = x + horizontalScrollBar()->value() - kTextMargin;
    const QFontMetricsF metrics(font());
    qreal left = 0;
    for (int column = 0; column < text.size(); ++column) {
        const qreal right = metrics.horizontalAdvance(text.left(column + 1));
        if (target < (left + right) / 2) return column;
        left = right;
    }
    return int(text.size());
}

TraceLog::Position TraceLog::positionAtPoint(QPoint viewportPoint) const {
    if (lineCount() == 0) return {};
    const std::size_t index = lineAt(viewportPoint.y());
    return {index, columnAt(line(index), viewportPoint.x())};
}

QPoint TraceLog::pointOf(Position position) const {
    const long row = long(position.line) - verticalScrollBar()->value();
    const int x = kTextMargin - horizontalScrollBar()->value() +
                  fontMetrics().horizontalAdvance(line(position.line).left(position.column));
    return {x, int(row * lineHeight())};
}

void TraceLog::updateScrollRanges() {
    const int page = visibleLineCount();
    const auto count = static_cast<long>(std::min<std::size_t>(lineCount(), INT_MAX));
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setRange(0, static_cast<int>(std::max(0L, count - page)));
    const long width =
        static_cast<long>(store_.longestRow()) * fontMetrics().horizontalAdvance('0');
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(fontMetrics().horizontalAdvance('0'));
    horizontalScrollBar()->setRange(
        0, static_cast<int>(std::clamp(width + 4 - viewport()->width(), 0L, long{INT_MAX})));
}

void TraceLog::resizeEvent(QResizeEvent* event) {
    const bool followEnd = isAtEnd();
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRanges();
    if (followEnd) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TraceLog::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int height = lineHeight();
    const int ascent = fontMetrics().ascent();
    const int x = kTextMargin - horizontalScrollBar()->value();
    const auto first = static_cast<std::size_t>(verticalScrollBar()->value());
    const std::size_t last = std::min(lineCount(), first + visibleLineCount() + 1);
    painter.setPen(palette().color(QPalette::Text));
    for (std::size_t index = first; index < last; ++index) {
        const int top = static_cast<int>(index - first) * height;
        const QString text = line(index);
        painter.drawText(x, top + ascent, text);
        if (hasSelection()) paintSelection(painter, index, text, top);
    }
}

// The selected part of a line, over the plain text: highlighted, and up to the
// right edge where the selection takes the line break too.
void TraceLog::paintSelection(QPainter& painter, std::size_t index, const QString& text,
                              int top) const {
    const Position from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
    if (index < from.line || index > to.line) return;
    const int start = index == from.line ? from.column : 0;
    const bool toEnd = index < to.line;
    const int end = toEnd ? int(text.size()) : to.column;
    if (start >= end && !toEnd) return;
    const int origin = kTextMargin - horizontalScrollBar()->value();
    const QFontMetrics metrics = fontMetrics();
    const int left = origin + metrics.horizontalAdvance(text.left(start));
    const QString part = text.mid(start, end - start);
    const int right = toEnd ? viewport()->width() : left + metrics.horizontalAdvance(part);
    painter.fillRect(QRect(left, top, right - left, lineHeight()), palette().highlight());
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(left, top + metrics.ascent(), part);
    painter.setPen(palette().color(QPalette::Text));
}

void TraceLog::mousePressEvent(QMouseEvent* event) {
    if (lineCount() == 0 || event->button() != Qt::LeftButton) return;
    cursor_ = positionAtPoint(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
    selectionChanged();
}

void TraceLog::mouseMoveEvent(QMouseEvent* event) {
    if (lineCount() == 0 || !(event->buttons() & Qt::LeftButton)) return;
    cursor_ = positionAtPoint(event->position().toPoint());
    selectionChanged();
}

void TraceLog::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TraceLog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(copy_);
    menu.addAction(selectAll_);
    menu.addSeparator();
    menu.addAction(save_);
    for (QAction* action : extraActions_) menu.addAction(action);
    menu.exec(event->globalPos());
}

void TraceLog::scrollToLine(std::size_t index) {
    const int top = verticalScrollBar()->value();
    const long row = long(std::min(index, lineCount()));
    if (row < top || row >= top + visibleLineCount()) verticalScrollBar()->setValue(int(row));
}

void TraceLog::select(Position from, Position to) {
    const auto clamp = [this](Position p) {
        if (p.line >= lineCount()) return Position{lineCount(), 0};
        p.column = std::clamp(p.column, 0, int(store_.rowCharacters(p.line)));
        return p;
    };
    anchor_ = clamp(from);
    cursor_ = clamp(to);
    selectionChanged();
}

void TraceLog::selectionChanged() {
    copy_->setEnabled(hasSelection());
    viewport()->update();
}

void TraceLog::selectAll() {
    select({0, 0}, {lineCount(), 0});
}

int TraceLog::characterCount() const {
    return int(std::min<std::uint64_t>(store_.characterCount(), INT_MAX));
}

int TraceLog::offsetOf(Position position) const {
    if (position.line >= lineCount()) return characterCount();
    return int(std::min<std::uint64_t>(store_.rowStart(position.line) + position.column, INT_MAX));
}

TraceLog::Position TraceLog::positionAt(int offset) const {
    if (offset <= 0 || lineCount() == 0) return {};
    const std::size_t index = store_.rowAtCharacter(std::uint64_t(offset));
    if (index >= lineCount()) return {lineCount(), 0};
    const int column = int(std::uint64_t(offset) - store_.rowStart(index));
    return {index, std::min(column, int(store_.rowCharacters(index)))};
}

QString TraceLog::textBetween(int from, int to) const {
    if (to <= from) return {};
    const Position start = positionAt(from), end = positionAt(to);
    QString text;
    for (std::size_t index = start.line; index <= end.line && index < lineCount(); ++index) {
        const QString whole = line(index);
        const int first = index == start.line ? start.column : 0;
        if (index == end.line) {
            text += whole.mid(first, end.column - first);
        } else {
            text += whole.mid(first);
            text += QLatin1Char('\n');
        }
    }
    return text;
}

QString TraceLog::selectedText() const {
    return textBetween(offsetOf(std::min(anchor_, cursor_)), offsetOf(std::max(anchor_, cursor_)));
}

// The empty line the log opens with is no line of the trace: a copy that begins there leaves it
// out, as saving does.
void TraceLog::copySelection() const {
    if (!hasSelection()) return;
    QString text = selectedText();
    if (std::min(anchor_, cursor_) == Position{} && opensWithEmptyLine()) text.remove(0, 1);
    QApplication::clipboard()->setText(text);
}

bool TraceLog::opensWithEmptyLine() const {
    return lineCount() > 0 && lineBytes(0).empty();
}

// Without the empty line the log opens with, which is no line of the trace.
QByteArray TraceLog::savedText() const {
    QByteArray text;
    text.reserve(qsizetype(textBytes() + lineCount()));
    const std::size_t first = opensWithEmptyLine() ? 1 : 0;
    for (std::size_t index = first; index < lineCount(); ++index) {
        const std::string_view bytes = lineBytes(index);
        text.append(bytes.data(), qsizetype(bytes.size()));
        text.append('\n');
    }
    return text;
}

// The old file stays as it was when the new one cannot be written whole.
void TraceLog::saveToFile() {
    SaveThroughDialog(
        this, QStringLiteral("Текстовые файлы (*.txt)|*.txt|все файлы|*"), ".txt",
        [this] { return savedText(); },
        [](const QString& path) { return QStringLiteral("Не удалось сохранить файл ") + path; });
}
