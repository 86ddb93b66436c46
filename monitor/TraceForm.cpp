#include "monitor/TraceForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

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

QPushButton* makeButton(const QString& caption, const char* name) {
    auto* button = new QPushButton(caption);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    return button;
}

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
    ButRun = makeButton(QStringLiteral("Старт"), "ButRun");
    ButClose = makeButton(QStringLiteral("Закрыть"), "ButClose");
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

// The mask goes into a header word of the worker's request: little-endian.
void TFTrace::writeMask(std::intptr_t address) const {
    if (address == 0) return;
    auto* word = reinterpret_cast<std::uint8_t*>(address);
    word[0] = static_cast<std::uint8_t>(TraceChannelMask & 0xFF);
    word[1] = static_cast<std::uint8_t>(TraceChannelMask >> 8);
}

// The board cannot be reached: forget the choice; running or not stays as it is.
void TFTrace::clearChannels() {
    for (QCheckBox* box : channels_) box->setChecked(false);
    TraceChannelMask = 0;
    withdrawRequest(WorkerRequest::SetTrace);
    withdrawRequest(WorkerRequest::PollTrace);
}

// --- TraceLog ----------------------------------------------------------------

TraceLog::TraceLog(QWidget* parent) : QAbstractScrollArea(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

void TraceLog::appendLines(const TraceLines& lines) {
    if (lines.empty()) return;
    const bool followEnd = isAtEnd();
    for (const std::string& line : lines) store(line);
    updateScrollRanges();
    if (followEnd) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
}

void TraceLog::store(const std::string& line) {
    // A line longer than a chunk (never made by the worker) is cut to one.
    const std::size_t length = std::min(line.size(), kChunkBytes);
    if (chunks_.empty() || chunks_.back().size() + length > kChunkBytes) {
        chunks_.emplace_back().reserve(kChunkBytes);
    }
    std::string& chunk = chunks_.back();
    lines_.push_back({static_cast<std::uint32_t>(chunks_.size() - 1),
                      static_cast<std::uint32_t>(chunk.size()),
                      static_cast<std::uint32_t>(length)});
    chunk.append(line, 0, length);
    textBytes_ += length;
    longestLine_ = std::max(longestLine_, length);
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
    const int x = 2 - horizontalScrollBar()->value();
    const auto first = static_cast<std::size_t>(verticalScrollBar()->value());
    const std::size_t last = std::min(lines_.size(), first + visibleLineCount() + 1);
    const std::size_t selFrom = std::min(anchor_, cursor_);
    const std::size_t selTo = std::max(anchor_, cursor_);
    for (std::size_t index = first; index < last; ++index) {
        const int top = static_cast<int>(index - first) * height;
        const bool selected = hasSelection_ && index >= selFrom && index <= selTo;
        if (selected) {
            painter.fillRect(0, top, viewport()->width(), height, palette().highlight());
            painter.setPen(palette().color(QPalette::HighlightedText));
        } else {
            painter.setPen(palette().color(QPalette::Text));
        }
        painter.drawText(x, top + ascent, line(index));
    }
}

void TraceLog::mousePressEvent(QMouseEvent* event) {
    if (lines_.empty() || event->button() != Qt::LeftButton) return;
    cursor_ = lineAt(event->position().toPoint().y());
    if (!(event->modifiers() & Qt::ShiftModifier) || !hasSelection_) anchor_ = cursor_;
    hasSelection_ = true;
    viewport()->update();
}

void TraceLog::mouseMoveEvent(QMouseEvent* event) {
    if (lines_.empty() || !(event->buttons() & Qt::LeftButton)) return;
    cursor_ = lineAt(event->position().toPoint().y());
    hasSelection_ = true;
    viewport()->update();
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

void TraceLog::selectAll() {
    if (lines_.empty()) return;
    anchor_ = 0;
    cursor_ = lines_.size() - 1;
    hasSelection_ = true;
    viewport()->update();
}

QString TraceLog::selectedText() const {
    if (!hasSelection_ || lines_.empty()) return {};
    const std::size_t from = std::min(anchor_, cursor_);
    const std::size_t to = std::max(anchor_, cursor_);
    // Lines are stored without separators: put one after each.
    QString text;
    for (std::size_t index = from; index <= to; ++index) {
        text += line(index);
        text += QLatin1Char('\n');
    }
    return text;
}

void TraceLog::copySelection() const {
    if (hasSelection_) QApplication::clipboard()->setText(selectedText());
}
