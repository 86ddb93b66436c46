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
// UTF-16 units of UTF-8 text: one per sequence, two for those beyond 16 bits.
std::uint32_t utf16Length(std::string_view bytes) {
    std::uint32_t units = 0;
    for (unsigned char byte : bytes) {
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
}
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
    const int firstOffset = characterCount();
    for (const std::string& line : lines) store(line);
    updateScrollRanges();
    if (followEnd) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent inserted(this, firstOffset,
                                            textBetween(firstOffset, characterCount()));
        QAccessible::updateAccessibility(&inserted);
    }
}

void TraceLog::store(const std::string& line) {
    // A line longer than a chunk (never made by the worker) is cut to one.
    const std::size_t length = std::min(line.size(), kChunkBytes);
    if (chunks_.empty() || chunks_.back().size() + length > kChunkBytes) {
        chunks_.emplace_back().reserve(kChunkBytes);
    }
    std::string& chunk = chunks_.back();
    const std::uint32_t characters = utf16Length(std::string_view(line).substr(0, length));
    lines_.push_back({static_cast<std::uint32_t>(chunks_.size() - 1),
                      static_cast<std::uint32_t>(chunk.size()), static_cast<std::uint32_t>(length),
                      characters, characters_});
    chunk.append(line, 0, length);
    textBytes_ += length;
    characters_ += characters + 1;
    longestLine_ = std::max<std::size_t>(longestLine_, characters);
}

std::string_view TraceLog::lineBytes(std::size_t index) const {
    const LineRef& ref = lines_[index];
    return std::string_view(chunks_[ref.chunk]).substr(ref.offset, ref.length);
}

QString TraceLog::line(std::size_t index) const {
    if (index >= lines_.size()) return {};
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
    return std::min<std::size_t>(static_cast<std::size_t>(row), lines_.size() - 1);
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
    if (lines_.empty()) return {};
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
    const auto count = static_cast<long>(std::min<std::size_t>(lines_.size(), INT_MAX));
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setRange(0, static_cast<int>(std::max(0L, count - page)));
    const long width = static_cast<long>(longestLine_) * fontMetrics().horizontalAdvance('0');
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
    const std::size_t last = std::min(lines_.size(), first + visibleLineCount() + 1);
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
    if (lines_.empty() || event->button() != Qt::LeftButton) return;
    cursor_ = positionAtPoint(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
    selectionChanged();
}

void TraceLog::mouseMoveEvent(QMouseEvent* event) {
    if (lines_.empty() || !(event->buttons() & Qt::LeftButton)) return;
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
    menu.exec(event->globalPos());
}

void TraceLog::scrollToLine(std::size_t index) {
    const int top = verticalScrollBar()->value();
    const long row = long(std::min(index, lines_.size()));
    if (row < top || row >= top + visibleLineCount()) verticalScrollBar()->setValue(int(row));
}

void TraceLog::select(Position from, Position to) {
    const auto clamp = [this](Position p) {
        if (p.line >= lines_.size()) return Position{lines_.size(), 0};
        p.column = std::clamp(p.column, 0, int(lines_[p.line].characters));
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
    select({0, 0}, {lines_.size(), 0});
}

int TraceLog::characterCount() const {
    return int(std::min<std::uint64_t>(characters_, INT_MAX));
}

int TraceLog::offsetOf(Position position) const {
    if (position.line >= lines_.size()) return characterCount();
    return int(std::min<std::uint64_t>(lines_[position.line].textStart + position.column, INT_MAX));
}

TraceLog::Position TraceLog::positionAt(int offset) const {
    if (offset <= 0 || lines_.empty()) return {};
    if (std::uint64_t(offset) >= characters_) return {lines_.size(), 0};
    const auto after = std::upper_bound(
        lines_.begin(), lines_.end(), std::uint64_t(offset),
        [](std::uint64_t value, const LineRef& ref) { return value < ref.textStart; });
    const auto index = std::size_t(after - lines_.begin()) - 1;
    const int column = int(std::uint64_t(offset) - lines_[index].textStart);
    return {index, std::min(column, int(lines_[index].characters))};
}

QString TraceLog::textBetween(int from, int to) const {
    if (to <= from) return {};
    const Position start = positionAt(from), end = positionAt(to);
    QString text;
    for (std::size_t index = start.line; index <= end.line && index < lines_.size(); ++index) {
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

void TraceLog::copySelection() const {
    if (hasSelection()) QApplication::clipboard()->setText(selectedText());
}

// Without the empty line the log opens with, which is no line of the trace.
QByteArray TraceLog::savedText() const {
    QByteArray text;
    text.reserve(qsizetype(textBytes_ + lines_.size()));
    const std::size_t first = !lines_.empty() && lineBytes(0).empty() ? 1 : 0;
    for (std::size_t index = first; index < lines_.size(); ++index) {
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
