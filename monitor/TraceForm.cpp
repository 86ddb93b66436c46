#include "monitor/TraceForm.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "ui/AtomicSave.h"
#include "ui/Buttons.h"
#include "ui/Dialogs.h"

namespace {

struct Channel {
    const char* name;
    const char* caption;
};
// In bit order of the channel mask.
constexpr std::array<Channel, 4> kChannels = {{
    {"BusRx", "Bus+ (RxD)"},
    {"BusTx", "Bus+ (TxD)"},
    {"LinkRx", "Link (RxD)"},
    {"LinkTx", "Link (TxD)"},
}};

QLabel* makeLabel(const QString& text, const char* name) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    return label;
}

}  // namespace

TFTrace::TFTrace(QWidget* parent) : TaskWindow(WindowId::FTrace, parent) {
    setWindowTitle(QStringLiteral("Трассировщик"));
    resize(sizeHint());

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    Timer->setInterval(kPollIntervalMs);
    connect(Timer, &QTimer::timeout, this, &TFTrace::TimerTimer);

    MLog = new TraceLog;
    MLog->setObjectName("MLog");
    MLog->setAccessibleName(QStringLiteral("Трассировка"));
    MLog->appendLines({std::string()});  // the log opens with one empty line

    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setObjectName("Splitter1");
    Splitter1->addWidget(MLog);
    Splitter1->addWidget(buildChannelPanel());
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setChildrenCollapsible(false);
    // The channel panel starts 98 pixels wide (more if its captions need it); the
    // splitter lets the user resize it.
    Splitter1->setSizes({sizeHint().width() - kChannelPanelWidth, kChannelPanelWidth});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildIdStrip());
    layout->addWidget(Splitter1, 1);
    layout->addWidget(buildButtonStrip());
}

// The die and chip IDs: no trace operation reports them, so they stay empty.
QWidget* TFTrace::buildIdStrip() {
    auto* panel = new QWidget;
    panel->setObjectName("Panel1");
    panel->setFixedHeight(std::max(15, panel->fontMetrics().height() + 2));
    SDie = makeLabel(QString(), "SDie");
    SChip = makeLabel(QString(), "SChip");
    auto* strip = new QHBoxLayout(panel);
    strip->setContentsMargins(4, 0, 4, 0);
    strip->addWidget(makeLabel(QStringLiteral("Die ID:"), "LDieID"));
    strip->addWidget(SDie, 1);
    strip->addWidget(makeLabel(QStringLiteral("Chip ID:"), "LChipID"));
    strip->addWidget(SChip, 1);
    return panel;
}

QWidget* TFTrace::buildChannelPanel() {
    auto* panel = new QWidget;
    panel->setObjectName("Panel3");
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(makeLabel(QStringLiteral("Канал"), "LChannel"));
    for (int bit = 0; bit < static_cast<int>(kChannels.size()); ++bit) {
        const QString caption = QString::fromLatin1(kChannels[bit].caption);
        auto* box = new QCheckBox(caption);
        box->setObjectName(kChannels[bit].name);
        box->setAccessibleName(caption);
        // Only the user's clicks choose channels; unchecking by code sends nothing.
        connect(box, &QCheckBox::clicked, this,
                [this, bit](bool checked) { channelClicked(bit, checked); });
        channels_[bit] = box;
        column->addWidget(box);
    }
    column->addStretch(1);
    return panel;
}

QWidget* TFTrace::buildButtonStrip() {
    auto* panel = new QWidget;
    panel->setObjectName("Panel2");
    ButRun = MakeButton(QStringLiteral("Старт"), "ButRun");
    ButClose = MakeButton(QStringLiteral("Закрыть"), "ButClose");
    connect(ButRun, &QPushButton::clicked, this, &TFTrace::ButRunClick);
    connect(ButClose, &QPushButton::clicked, this, &TFTrace::ButCloseClick);
    auto* strip = new QHBoxLayout(panel);
    strip->setContentsMargins(4, 4, 4, 4);
    strip->addWidget(ButRun);
    strip->addWidget(ButClose);
    strip->addStretch(1);
    return panel;
}

bool TFTrace::isRunning() const {
    return Timer->isActive();
}

void TFTrace::channelClicked(int bit, bool checked) {
    const auto flag = static_cast<std::uint16_t>(1u << bit);
    TraceChannelMask = checked ? (TraceChannelMask | flag) : (TraceChannelMask & ~flag);
    signalRequest(WorkerRequest::SetTrace);
}

void TFTrace::ButRunClick() {
    if (isRunning()) {
        withdrawRequest(WorkerRequest::PollTrace);
        ButRun->setText(QStringLiteral("Старт"));
        Timer->stop();
    } else {
        signalRequest(WorkerRequest::PollTrace);
        ButRun->setText(QStringLiteral("Стоп"));
        Timer->start();
    }
    ButRun->setAccessibleName(ButRun->text());
}

void TFTrace::TimerTimer() {
    if (TraceChannelMask != 0) signalRequest(WorkerRequest::PollTrace);
}

void TFTrace::ButCloseClick() {
    closeWindow();
}

void TFTrace::formClose() {
    Timer->stop();
    withdrawRequest(WorkerRequest::PollTrace);
    withdrawRequest(WorkerRequest::SetTrace);
}

void TFTrace::onWorkerNotification(const WorkerNotification& notification) {
    switch (notification.code) {
        case NotifyCode::FillData:
            writeMask(notification.value);
            break;
        case NotifyCode::TraceLines:
            if (notification.value != 0) {
                MLog->appendLines(*reinterpret_cast<const TraceLines*>(notification.value));
            }
            break;
        case NotifyCode::Done:
            clearChannels();
            break;
        default:
            break;
    }
}

void TFTrace::writeMask(std::intptr_t address) const {
    if (address != 0) WriteTraceMask(address, TraceChannelMask);
}

// The board cannot be reached: forget the choice; running or not stays as it is.
void TFTrace::clearChannels() {
    for (QCheckBox* box : channels_) box->setChecked(false);
    TraceChannelMask = 0;
    withdrawRequest(WorkerRequest::SetTrace);
    withdrawRequest(WorkerRequest::PollTrace);
}

// --- TraceLog ----------------------------------------------------------------

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

QByteArray TraceLog::savedText() const {
    QByteArray text;
    text.reserve(qsizetype(textBytes_ + lines_.size()));
    for (std::size_t index = 0; index < lines_.size(); ++index) {
        const std::string_view bytes = lineBytes(index);
        text.append(bytes.data(), qsizetype(bytes.size()));
        text.append('\n');
    }
    return text;
}

// The old file stays as it was when the new one cannot be written whole.
void TraceLog::saveToFile() {
    SaveThroughDialog(
        this, QStringLiteral("Текстовые файлы (*.txt)|*.txt|все файлы|*"),
        [this] { return savedText(); },
        [](const QString& path) { return QStringLiteral("Не удалось сохранить файл ") + path; });
}
