// TFTrace: chooses which of the board's four serial streams it traces, polls
// the traced records every 100 ms while running and appends them to a log.
#pragma once

#include <QAbstractScrollArea>
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/LinkTypes.h"
#include "shell/TaskWindow.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSplitter;
class QTimer;

// The trace window's append-only log: one text row per trace record, kept as
// compact UTF-8 and painted only where visible, so that appending stays cheap
// however long the log grows. Whole lines are selected with the mouse (Shift
// extends, Ctrl+A takes all) and copied with Ctrl+C.
class TraceLog : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TraceLog(QWidget* parent = nullptr);

    void appendLines(const TraceLines& lines);
    std::size_t lineCount() const { return lines_.size(); }
    QString line(std::size_t index) const;
    QString selectedText() const;
    void selectAll();
    std::size_t textBytes() const { return textBytes_; }
    bool isAtEnd() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::string_view lineBytes(std::size_t index) const;
    int lineHeight() const;
    int visibleLineCount() const;
    std::size_t lineAt(int y) const;
    void updateScrollRanges();
    void copySelection() const;

    // Where a line lies: chunk, offset and length. Text goes into chunks of
    // fixed capacity and the index into a deque, so appending never moves
    // what is already stored, however large the log has grown.
    struct LineRef {
        std::uint32_t chunk;
        std::uint32_t offset;
        std::uint32_t length;
    };
    static constexpr std::size_t kChunkBytes = 1 << 20;
    void store(const std::string& line);

    std::vector<std::string> chunks_;
    std::deque<LineRef> lines_;
    std::size_t textBytes_ = 0;
    std::size_t longestLine_ = 0;  // in characters, for the horizontal range
    std::size_t anchor_ = 0;       // selection: lines anchor_..cursor_, both included
    std::size_t cursor_ = 0;
    bool hasSelection_ = false;
};

class TFTrace : public TaskWindow {
    Q_OBJECT
public:
    // The trace window opens at the top-left corner of the client area.
    bool opensAtClientCorner() const override { return true; }
    bool hasFixedFrame() const override { return false; }
    static constexpr int kPollIntervalMs = 100;
    static constexpr int kChannelPanelWidth = 98;

    explicit TFTrace(QWidget* parent = nullptr);

    void onWorkerNotification(const WorkerNotification& notification) override;
    // The initial size; the frame may be resized freely afterwards.
    QSize sizeHint() const override { return {387, 335}; }

    std::uint16_t channelMask() const { return TraceChannelMask; }
    bool isRunning() const;
    QTimer* timer() const { return Timer; }
    TraceLog* log() const { return MLog; }

public slots:
    void ButRunClick();
    void ButCloseClick();
    void TimerTimer();

protected:
    void formClose() override;

private:
    QWidget* buildIdStrip();
    QWidget* buildChannelPanel();
    QWidget* buildButtonStrip();
    void channelClicked(int bit, bool checked);
    void writeMask(std::intptr_t address) const;
    void clearChannels();

    QLabel* SDie = nullptr;
    QLabel* SChip = nullptr;
    QSplitter* Splitter1 = nullptr;
    TraceLog* MLog = nullptr;
    // BusRx, BusTx, LinkRx, LinkTx: bit i of the mask.
    std::array<QCheckBox*, 4> channels_{};
    QPushButton* ButRun = nullptr;
    QPushButton* ButClose = nullptr;
    QTimer* Timer = nullptr;
    std::uint16_t TraceChannelMask = 0;
};
