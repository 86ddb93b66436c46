// TFTrace: chooses which of the board's four serial streams it traces, polls
// the traced records every 100 ms while running and appends them to a log,
// and, when asked, to a file as well.
#pragma once

#include <QList>
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/LinkTypes.h"
#include "monitor/TraceLog.h"
#include "monitor/TraceRecorder.h"
#include "ui/TaskWindow.h"

class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class QSplitter;
class QTimer;

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
    // "Записывать в файл…" in the log's menu: asks for a file and records the lines arriving
    // from then on into it, until chosen again or the window closes.
    QAction* recordAction() const { return record_; }
    TraceRecorder* recorder() const { return recorder_; }  // null while not recording
    // The recording, and those stopped whose files are still being finished.
    QList<TraceRecorder*> recordings() const;

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
    void recordClicked();
    void startRecording();
    void stopRecording();
    void leaveRecordingsToFinish();
    void recordingFinished(TraceRecorder* recorder, quint64 droppedLines);
    void recordingFailed(TraceRecorder* recorder, const QString& reason);

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
    QAction* record_ = nullptr;
    // Children of the window until their files are finished; then released.
    TraceRecorder* recorder_ = nullptr;
};
