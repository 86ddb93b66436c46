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

#include "monitor/ReportCsv.h"
#include "shell/Dialogs.h"

using namespace StatisticsSeries;

namespace {

const char* const kCsvFilter = "CSV (*.csv);;все файлы (*.*)";

struct SeriesLook {
    const char* caption;
    const char* name;  // of its check box
    QRgb colour;
};

constexpr SeriesLook kLooks[kCount] = {
    {"Ошибочные пакеты, %", "ShowRxdErrFract", 0xD62728},
    {"Потерянные пакеты, %", "ShowRxvLostFract", 0x1F77B4},
    {"Колебание интервала, мсек", "ShowJitter", 0x2CA02C},
    {"Загрузка процессора, %", "ShowLoad", 0x7F7F7F},
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

void fitValueAxis(QValueAxis* axis, double high) {
    axis->setRange(0, high > 0 ? high : 1);
    axis->applyNiceNumbers();
}

}  // namespace

ReportChart::ReportChart(const ReportHistory& history, QWidget* parent)
    : QWidget(parent), history_(history) {
    buildChart();
    BSave = new QPushButton(QStringLiteral("Сохранить…"));
    BSave->setObjectName("BSave");
    BSave->setAccessibleName(BSave->text());
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
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis_->setTickCount(3);
    percentAxis_ = new QValueAxis;
    millisecondsAxis_ = new QValueAxis;
    for (QAbstractAxis* axis :
         {static_cast<QAbstractAxis*>(timeAxis_), static_cast<QAbstractAxis*>(percentAxis_),
          static_cast<QAbstractAxis*>(millisecondsAxis_)}) {
        axis->setLabelsFont(labels);
    }
    for (QValueAxis* axis : {percentAxis_, millisecondsAxis_}) {
        axis->setLabelFormat(QStringLiteral("%g"));
        axis->setTickCount(5);
    }
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(percentAxis_, Qt::AlignLeft);
    chart_->addAxis(millisecondsAxis_, Qt::AlignRight);

    for (int id = 0; id < kCount; ++id) {
        auto* line = new QLineSeries;
        line->setName(QString::fromUtf8(kLooks[id].caption));
        line->setPen(QPen(QColor(kLooks[id].colour), 1));
        chart_->addSeries(line);
        line->attachAxis(timeAxis_);
        line->attachAxis(id == Jitter ? millisecondsAxis_ : percentAxis_);
        series_[id] = line;
    }
    view_ = new QChartView(chart_);
    view_->setObjectName("Chart");
    view_->setAccessibleName(QStringLiteral("График"));
    view_->setRenderHint(QPainter::Antialiasing, false);
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
    millisecondsAxis_->setVisible(series_[Jitter]->isVisible());
    percentAxis_->setVisible(series_[RxdErrFract]->isVisible() ||
                             series_[RxvLostFract]->isVisible() || series_[Load]->isVisible());
    stale_ = true;
    refresh();
}

void ReportChart::refresh() {
    if (!isVisible()) {
        stale_ = true;
        return;
    }
    if (!stale_ && shownCount_ == history_.revision()) return;
    rebuild();
}

void ReportChart::rebuild() {
    const auto points = displayPoints(history_, plotColumns());
    for (int id = 0; id < kCount; ++id) series_[id]->replace(points[id]);
    fitAxes(points);
    shownCount_ = history_.revision();
    stale_ = false;
}

// The value axes start at zero and reach just above the highest shown value.
void ReportChart::fitAxes(const std::array<QList<QPointF>, kCount>& points) {
    const std::int64_t first = history_.empty() ? 0 : history_[0].arrivalMs;
    const std::int64_t last = history_.empty() ? 0 : history_.back().arrivalMs;
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(first),
                        QDateTime::fromMSecsSinceEpoch(std::max(last, first + 1000)));
    double percentHigh = 0;
    for (Id id : {RxdErrFract, RxvLostFract, Load}) {
        if (series_[id]->isVisible()) percentHigh = std::max(percentHigh, highest(points[id]));
    }
    fitValueAxis(percentAxis_, percentHigh);
    fitValueAxis(millisecondsAxis_, highest(points[Jitter]));
}

int ReportChart::plotColumns() const {
    const int plotWidth = int(chart_->plotArea().width());
    return std::max(plotWidth > 0 ? plotWidth : view_->width(), 1);
}

std::array<QList<QPointF>, kCount> ReportChart::displayPoints(const ReportHistory& history,
                                                              int columns) {
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
    const std::int64_t first = history[0].arrivalMs;
    const std::int64_t span = std::max<std::int64_t>(history.back().arrivalMs - first, 0) + 1;
    std::array<Extremes, kCount> extremes{};
    int column = -1;
    for (std::size_t index = 0; index < count; ++index) {
        // A clock set back puts a report in the first column rather than outside.
        const std::int64_t offset =
            std::clamp<std::int64_t>(history[index].arrivalMs - first, 0, span - 1);
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
    const QString path = AppDialogs().saveFile(this, QString::fromUtf8(kCsvFilter));
    if (path.isEmpty()) return;
    QString reason;
    if (!ReportCsv::save(history_, path, &reason)) {
        AppDialogs().message(this, "Файл " + path + " не удается создать\n" + reason);
    }
}

void ReportChart::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void ReportChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    stale_ = true;
    refresh();
}
