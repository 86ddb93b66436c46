// TFReport: the board's link and audio-channel counters, asked for once per
// report period while running, and on the reset button.
#pragma once

#include <array>
#include <cstdint>

#include "monitor/ReportHistory.h"
#include "ui/TaskWindow.h"
#include "link/StatisticsRules.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QGridLayout;
class ReportChart;

class TFReport : public TaskWindow {
    Q_OBJECT
public:
    static constexpr int kWordCount = StatisticsWord::Count;
    static constexpr int kRecordSize = 4 * kWordCount;
    static constexpr int kMinPeriod = 1;
    static constexpr int kMaxPeriod = 999;

    explicit TFReport(QWidget* parent = nullptr);

    void onWorkerNotification(const WorkerNotification& notification) override;

    bool isRunning() const;
    // Report period in seconds, as taken from mTime on the last start.
    int period() const { return period_; }
    QTimer* timer() const { return Timer; }

    // Shows a 68-byte big-endian statistics record of which the first
    // `receivedBytes` arrived.
    void showStatistics(const std::uint8_t* record, int receivedBytes = kRecordSize);

    // The reports shown since the window opened, and the page that charts them.
    ReportHistory& history() { return history_; }
    ReportChart* chart() const { return chart_; }

public slots:
    void BRunClick();
    void BRstClick();
    void BCloseClick();
    void TimerTimer();

protected:
    void formClose() override;

private:
    QWidget* buildLinkPage();
    QWidget* buildControllerPage();
    QLineEdit* addValueRow(QGridLayout* grid, const QString& caption, const char* name,
                           QLabel** label = nullptr);
    void start();
    void stop();
    void applyPeriod();
    void buildPeriodLabels();
    void reservePeriodLabelWidth();

    QTabWidget* PageControl = nullptr;
    QLineEdit* mTime = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label9 = nullptr;
    QPushButton* BRst = nullptr;
    QPushButton* BRun = nullptr;
    QPushButton* BClose = nullptr;
    QTimer* Timer = nullptr;
    // The value fields in word order: sTime, sTxd, ... sFreq.
    std::array<QLineEdit*, kWordCount> fields_{};
    int period_ = kMinPeriod;
    ReportHistory history_;
    ReportChart* chart_ = nullptr;
};
