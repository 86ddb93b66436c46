#include "monitor/ReportChart.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QLineSeries>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "monitor/ReportCsv.h"
#include "ui/AtomicSave.h"
#include "ui/Buttons.h"

using namespace StatisticsSeries;

namespace {

const char* const kCsvFilter = "CSV (*.csv)|*.csv|все файлы|*";

// The value axes. The load (tens of percent) has one of its own, so the packet fractions
// (usually well below one percent) are not pressed flat against zero.
enum Scale { PacketsScale, MillisecondsScale, LoadScale, kScaleCount };

struct SeriesLook {
    const char* caption;
    const char* meaning;  // the caption is short to fit the fixed window
    const char* name;     // of its check box
    QRgb colour;
    Scale scale;  // the value axis the series is drawn against
};

constexpr SeriesLook kLooks[kCount] = {
    {"Ошибочные пакеты, %", "Доля ошибочных пакетов за период отчета, %", "ShowRxdErrFract",
     0xD62728, PacketsScale},
    {"Потерянные пакеты, %", "Доля потерянных пакетов аудио канала за период отчета, %",
     "ShowRxvLostFract", 0x1F77B4, PacketsScale},
    {"Колебание, мсек", "Колебание межпакетного интервала, мсек", "ShowJitter", 0x2CA02C,
     MillisecondsScale},
    {"Загрузка процессора, %", "Загрузка процессора, %", "ShowLoad", 0x9467BD, LoadScale},
};

// Each axis names its unit; the packets' on the left, the others on the right in the colour of
// their one series.
struct ScaleLook {
    const char* title;
    Qt::Alignment side;
};
constexpr ScaleLook kScales[kScaleCount] = {
    {"Пакеты, %", Qt::AlignLeft},
    {"Колебание, мсек", Qt::AlignRight},
    {"Загрузка, %", Qt::AlignRight},
};

// The two per-series extremes of one pixel column, as report indexes.
struct Extremes {
    std::size_t low = 0;
    std::size_t high = 0;
};

QPointF pointOf(const ReportHistory& history, std::size_t index, Id id) {
    const StatisticsReport& report = history[index];
    return QPointF(qreal(report.arrivalMs), report.shown[id]);
}

// Lowest and highest of the column, in the order they came.
void appendExtremes(QList<QPointF>& points, const ReportHistory& history, const Extremes& column,
                    Id id) {
    const std::size_t first = std::min(column.low, column.high);
    const std::size_t last = std::max(column.low, column.high);
    points.append(pointOf(history, first, id));
    if (last != first) points.append(pointOf(history, last, id));
}

double highest(const QList<QPointF>& points) {
    double high = 0;
    for (const QPointF& point : points) high = std::max(high, point.y());
    return high;
}

// The smallest of 1, 2 and 5 times a power of ten that is at least `value`.
double niceStep(double value) {
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= value) return factor * power;
    }
    return 10 * power;
}

// From zero to a round value above `high`, in four or five round steps. The
// range changes only when the values cross a step, and every change makes
// Qt Charts lay out each series of the axis again.
void fitValueAxis(QValueAxis* axis, double high) {
    if (!(high > 0)) high = 1;
    const double step = niceStep(high / 4);
    const double top = std::ceil(high / step) * step;
    if (axis->min() == 0 && axis->max() == top) return;
    axis->setRange(0, top);
    axis->setTickCount(int(std::lround(top / step)) + 1);
    // Localized labels take "f" but not "g": as many decimals as the step needs.
    const int decimals = std::max(0, -int(std::floor(std::log10(step))));
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
}

// Round steps of the time axis, in seconds, and how many fit its width.
constexpr std::int64_t kTimeSteps[] = {1,     2,     5,     10,    15,     30,    60,
                                       120,   300,   600,   900,   1800,   3600,  7200,
                                       10800, 21600, 43200, 86400, 172800, 604800};
// Labels with seconds are wider: fewer fit.
constexpr std::int64_t maxTimeIntervals(std::int64_t stepSeconds) {
    return stepSeconds >= 60 ? 6 : 4;
}

struct TimeRange {
    std::int64_t fromMs = 0;
    std::int64_t toMs = 0;
    std::int64_t stepMs = 1000;
};

std::int64_t floorTo(std::int64_t value, std::int64_t step) {
    return (value >= 0 ? value : value - step + 1) / step * step;
}

// Ticks at round local times around the reports; like the value axes, the
// range moves only when the last report crosses a step.
TimeRange timeRange(std::int64_t firstMs, std::int64_t lastMs, std::int64_t utcOffsetMs) {
    TimeRange range;
    for (std::int64_t seconds : kTimeSteps) {
        range.stepMs = seconds * 1000;
        range.fromMs = floorTo(firstMs + utcOffsetMs, range.stepMs) - utcOffsetMs;
        range.toMs = floorTo(lastMs + utcOffsetMs, range.stepMs) - utcOffsetMs + range.stepMs;
        if (range.toMs - range.fromMs <= maxTimeIntervals(seconds) * range.stepMs) break;
    }
    return range;
}

}  // namespace

ReportChart::ReportChart(const ReportHistory& history, QWidget* parent)
    : QWidget(parent), history_(history) {
    buildChart();
    BSave = MakeButton(QStringLiteral("Сохранить…"), "BSave");
    connect(BSave, &QPushButton::clicked, this, &ReportChart::BSaveClick);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(view_, 1);
    layout->addWidget(buildChoices());
}

void ReportChart::buildChart() {
    chart_ = new QChart;
    chart_->legend()->hide();
    chart_->setMargins(QMargins(0, 0, 0, 0));
    chart_->setBackgroundRoundness(0);
    chart_->setLocalizeNumbers(true);
    chart_->setLocale(QLocale());
    QFont labels = font();
    labels.setPointSizeF(std::max(6.0, labels.pointSizeF() - 2));

    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setLabelsFont(labels);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    for (int scale = 0; scale < kScaleCount; ++scale) {
        valueAxes_[scale] = new QValueAxis;
        valueAxes_[scale]->setLabelsFont(labels);
        valueAxes_[scale]->setTitleFont(labels);
        valueAxes_[scale]->setTitleText(QString::fromUtf8(kScales[scale].title));
        chart_->addAxis(valueAxes_[scale], kScales[scale].side);
    }
    colourSingleSeriesAxes();

    for (int id = 0; id < kCount; ++id) {
        auto* line = new QLineSeries;
        line->setName(QString::fromUtf8(kLooks[id].caption));
        line->setPen(QPen(QColor(kLooks[id].colour), 1));
        chart_->addSeries(line);
        line->attachAxis(timeAxis_);
        line->attachAxis(valueAxes_[kLooks[id].scale]);
        series_[id] = line;
    }
    view_ = new QChartView(chart_);
    view_->setObjectName("Chart");
    view_->setAccessibleName(QStringLiteral("График"));
    view_->setRenderHint(QPainter::Antialiasing, false);
}

void ReportChart::colourSingleSeriesAxes() {
    std::array<int, kScaleCount> seriesCount{};
    for (const SeriesLook& look : kLooks) ++seriesCount[look.scale];
    for (const SeriesLook& look : kLooks) {
        if (seriesCount[look.scale] != 1) continue;
        QValueAxis* axis = valueAxes_[look.scale];
        axis->setTitleBrush(QColor(look.colour));
        axis->setLabelsColor(QColor(look.colour));
        axis->setLinePenColor(QColor(look.colour));
    }
}

QWidget* ReportChart::buildChoices() {
    auto* panel = new QWidget;
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(2, 0, 2, 0);
    grid->setVerticalSpacing(0);
    for (int id = 0; id < kCount; ++id) {
        auto* box = new QCheckBox(QString::fromUtf8(kLooks[id].caption));
        box->setObjectName(kLooks[id].name);
        box->setAccessibleName(box->text());
        box->setToolTip(QString::fromUtf8(kLooks[id].meaning));
        box->setAccessibleDescription(box->toolTip());
        box->setChecked(true);
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText, QColor(kLooks[id].colour));
        box->setPalette(palette);
        connect(box, &QCheckBox::toggled, this,
                [this, id](bool shown) { showSeries(Id(id), shown); });
        grid->addWidget(box, id / 2, id % 2);
        choices_[id] = box;
    }
    grid->addWidget(BSave, 2, 1, Qt::AlignRight);
    return panel;
}

void ReportChart::showSeries(Id id, bool shown) {
    series_[id]->setVisible(shown);
    // A value axis shows while any of its series does.
    std::array<bool, kScaleCount> used{};
    for (int each = 0; each < kCount; ++each) {
        if (series_[each]->isVisible()) used[kLooks[each].scale] = true;
    }
    for (int scale = 0; scale < kScaleCount; ++scale) valueAxes_[scale]->setVisible(used[scale]);
    stale_ = true;
    refreshNow();
}

void ReportChart::refresh() {
    if (refreshQueued_) return;
    refreshQueued_ = true;
    QMetaObject::invokeMethod(this, &ReportChart::refreshNow, Qt::QueuedConnection);
}

void ReportChart::refreshNow() {
    refreshQueued_ = false;
    if (!isVisible()) {
        stale_ = true;
        return;
    }
    if (!stale_ && shownCount_ == history_.revision()) return;
    rebuild();
}

void ReportChart::rebuild() {
    fitTimeAxis();
    const auto points = displayPoints(history_, plotColumns(), timeAxis_->min().toMSecsSinceEpoch(),
                                      timeAxis_->max().toMSecsSinceEpoch());
    fitValueAxes(points);
    for (int id = 0; id < kCount; ++id) series_[id]->replace(points[id]);
    shownCount_ = history_.revision();
    stale_ = false;
}

void ReportChart::fitTimeAxis() {
    const std::int64_t first = history_.empty() ? 0 : history_[0].arrivalMs;
    const std::int64_t last = history_.empty() ? 0 : history_.back().arrivalMs;
    const std::int64_t offsetMs =
        std::int64_t(history_.empty() ? 0 : history_[0].utcOffsetS) * 1000;
    const TimeRange range = timeRange(first, last, offsetMs);
    if (timeAxis_->min().toMSecsSinceEpoch() == range.fromMs &&
        timeAxis_->max().toMSecsSinceEpoch() == range.toMs) {
        return;
    }
    timeAxis_->setFormat(range.stepMs >= 60'000 ? QStringLiteral("HH:mm")
                                                : QStringLiteral("HH:mm:ss"));
    timeAxis_->setTickCount(int((range.toMs - range.fromMs) / range.stepMs) + 1);
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(range.fromMs),
                        QDateTime::fromMSecsSinceEpoch(range.toMs));
}

// The value axes start at zero and reach just above the highest shown value.
void ReportChart::fitValueAxes(const std::array<QList<QPointF>, kCount>& points) {
    std::array<double, kScaleCount> high{};
    for (int id = 0; id < kCount; ++id) {
        if (!series_[id]->isVisible()) continue;
        high[kLooks[id].scale] = std::max(high[kLooks[id].scale], highest(points[id]));
    }
    for (int scale = 0; scale < kScaleCount; ++scale) fitValueAxis(valueAxes_[scale], high[scale]);
}

int ReportChart::plotColumns() const {
    const int plotWidth = int(chart_->plotArea().width());
    return std::max(plotWidth > 0 ? plotWidth : view_->width(), 1);
}

std::array<QList<QPointF>, kCount> ReportChart::displayPoints(const ReportHistory& history,
                                                              int columns) {
    if (history.empty()) return {};
    return displayPoints(history, columns, history[0].arrivalMs, history.back().arrivalMs);
}

std::array<QList<QPointF>, kCount> ReportChart::displayPoints(const ReportHistory& history,
                                                              int columns, std::int64_t fromMs,
                                                              std::int64_t toMs) {
    std::array<QList<QPointF>, kCount> points;
    const std::size_t count = history.size();
    columns = std::max(columns, 1);
    if (count <= 2 * std::size_t(columns)) {
        for (int id = 0; id < kCount; ++id) {
            points[id].reserve(qsizetype(count));
            for (std::size_t index = 0; index < count; ++index) {
                points[id].append(pointOf(history, index, Id(id)));
            }
        }
        return points;
    }
    for (auto& list : points) list.reserve(2 * columns);
    const std::int64_t span = std::max<std::int64_t>(toMs - fromMs, 0) + 1;
    std::array<Extremes, kCount> extremes{};
    int column = -1;
    for (std::size_t index = 0; index < count; ++index) {
        // A clock set back or forth puts a report in an end column, not outside.
        const std::int64_t offset =
            std::clamp<std::int64_t>(history[index].arrivalMs - fromMs, 0, span - 1);
        const int at = int(offset * columns / span);
        if (at != column) {
            if (column >= 0) {
                for (int id = 0; id < kCount; ++id) {
                    appendExtremes(points[id], history, extremes[id], Id(id));
                }
            }
            column = at;
            extremes.fill({index, index});
            continue;
        }
        const auto& shown = history[index].shown;
        for (int id = 0; id < kCount; ++id) {
            if (shown[id] < history[extremes[id].low].shown[id]) extremes[id].low = index;
            if (shown[id] > history[extremes[id].high].shown[id]) extremes[id].high = index;
        }
    }
    for (int id = 0; id < kCount; ++id) appendExtremes(points[id], history, extremes[id], Id(id));
    return points;
}

void ReportChart::BSaveClick() {
    SaveThroughDialog(
        this, QString::fromUtf8(kCsvFilter), ".csv", [this] { return ReportCsv::ToCsv(history_); },
        // verbatim: the text the configuration save shows, which users know
        [](const QString& path) { return "Файл " + path + " не удается создать"; });
}

void ReportChart::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshNow();
}

void ReportChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    stale_ = true;
    refresh();
}
