// The chart page of TFReport: the derived statistics of the history against
// time, the choice of series, and the export of the history as CSV.
#pragma once

#include <QList>
#include <QPointF>
#include <QWidget>
#include <array>
#include <cstdint>

#include "monitor/ReportHistory.h"

class QCheckBox;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QPushButton;
class QValueAxis;

class ReportChart : public QWidget {
    Q_OBJECT
public:
    explicit ReportChart(const ReportHistory& history, QWidget* parent = nullptr);

    // Brings the chart up to the history once the current event is handled,
    // so a report's notification returns at once and a burst of reports costs
    // one redraw; while the page is hidden, nothing is done until it is shown.
    void refresh();
    // Redraws from the whole history now, visible or not.
    void rebuild();

    QLineSeries* series(StatisticsSeries::Id id) const { return series_[id]; }
    QCheckBox* choice(StatisticsSeries::Id id) const { return choices_[id]; }
    QChartView* view() const { return view_; }

    // Points of one series for `columns` pixel columns: every report while
    // they fit, otherwise the lowest and the highest value of each column in
    // the order they came, so that no peak is lost however long the history.
    // The columns share the time from `fromMs` to `toMs` evenly; without them,
    // the time from the first report to the last.
    static std::array<QList<QPointF>, StatisticsSeries::kCount> displayPoints(
        const ReportHistory& history, int columns);
    static std::array<QList<QPointF>, StatisticsSeries::kCount> displayPoints(
        const ReportHistory& history, int columns, std::int64_t fromMs, std::int64_t toMs);

public slots:
    void BSaveClick();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildChart();
    void colourSingleSeriesAxes();
    QWidget* buildChoices();
    void showSeries(StatisticsSeries::Id id, bool shown);
    void refreshNow();
    void fitTimeAxis();
    void fitValueAxes(const std::array<QList<QPointF>, StatisticsSeries::kCount>& points);
    int plotColumns() const;

    const ReportHistory& history_;
    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    std::array<QValueAxis*, 3> valueAxes_{};  // by scale: packets, milliseconds, load
    std::array<QLineSeries*, StatisticsSeries::kCount> series_{};
    std::array<QCheckBox*, StatisticsSeries::kCount> choices_{};
    QPushButton* BSave = nullptr;
    std::uint64_t shownCount_ = 0;  // the history's appendedCount() when last drawn
    bool stale_ = true;
    bool refreshQueued_ = false;
};
