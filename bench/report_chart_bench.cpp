// Figures of the statistics chart with a full working day of history
// (28,800 reports, one per second for eight hours), offscreen:
//  - redraw time per report: the window shows it, keeps it and brings the
//    chart page up to date, then the chart is painted; median and worst, and
//    the chart's update alone;
//  - the same paint with every report drawn, to show why the page draws the
//    extremes of each pixel column instead;
//  - heap held by the history and by the chart's points.
// Targets: redraw under 16 ms, memory under 10 MiB.
// Usage: bench_report_chart_bench [redraws]
#include <malloc.h>
#include <time.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QLineSeries>
#include <QTabWidget>
#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "monitor/ReportChart.h"
#include "monitor/ReportForm.h"

namespace {

constexpr int kDay = 8 * 60 * 60;

std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

double mib(std::size_t bytes) {
    return double(bytes) / (1024.0 * 1024.0);
}

// A report as a running board sends it after `second` seconds.
std::array<std::uint8_t, TFReport::kRecordSize> recordAt(std::uint32_t second) {
    std::array<std::uint32_t, TFReport::kWordCount> words{};
    words[0] = second;
    for (int i = 1; i < TFReport::kWordCount; ++i) words[i] = second * 25 * std::uint32_t(i);
    words[6] = (second % 5 + 1) * 1073742u + (second % 3600 == 0 ? 20000000u : 0u);
    words[13] = (second % 3 + 1) * 1431655u;
    words[14] = 18 + second % 9 + (second % 997 == 0 ? 400 : 0);
    words[15] = 9175 + (second * 37) % 400;
    words[16] = 8000;
    std::array<std::uint8_t, TFReport::kRecordSize> record{};
    for (int i = 0; i < TFReport::kWordCount; ++i) {
        for (int b = 0; b < 4; ++b) record[4 * i + b] = words[i] >> (24 - 8 * b) & 0xFF;
    }
    return record;
}

// The machine is shared: wall time includes waiting for a core, CPU time does not.
struct Figures {
    double medianMs;
    double worstMs;
    double medianCpuMs;
};

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

template <class Step>
Figures timeEach(int runs, Step step) {
    std::vector<double> times;
    std::vector<double> cpuTimes;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        const double cpuStart = threadCpuMs();
        timer.start();
        step(run);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpuTimes.push_back(threadCpuMs() - cpuStart);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    return {times[times.size() / 2], times.back(), cpuTimes[cpuTimes.size() / 2]};
}

// Paints the view as the screen would get it.
void paint(QChartView* view) {
    view->viewport()->repaint();
    QApplication::processEvents();
}

// Every report of the history as a point, as a chart without decimation draws it.
Figures paintEveryPoint(const ReportHistory& history, QSize size, int runs) {
    QChartView view;
    view.resize(size);
    auto* chart = view.chart();
    chart->legend()->hide();
    std::array<QLineSeries*, StatisticsSeries::kCount> series{};
    for (auto& line : series) {
        line = new QLineSeries;
        chart->addSeries(line);
    }
    chart->createDefaultAxes();
    view.show();
    const auto points = ReportChart::displayPoints(history, kDay);
    return timeEach(runs, [&](int) {
        for (int id = 0; id < StatisticsSeries::kCount; ++id) series[id]->replace(points[id]);
        paint(&view);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

    TFReport window;
    window.show();
    QApplication::processEvents();
    auto* pages = window.findChild<QTabWidget*>("PageControl");
    std::int64_t arrivalMs = QDateTime::currentMSecsSinceEpoch();
    window.history().setTimeSource(
        [&] { return QDateTime::fromMSecsSinceEpoch(arrivalMs += 1000); });

    const std::size_t before = heapInUse();
    for (std::uint32_t second = 0; second < kDay; ++second) {
        window.showStatistics(recordAt(second).data());  // the chart page is not shown yet
    }
    const std::size_t history = heapInUse() - before;
    pages->setCurrentWidget(window.chart());
    QApplication::processEvents();
    const std::size_t chartPoints = heapInUse() - before - history;

    std::uint32_t next = kDay;
    ReportChart* chart = window.chart();
    const Figures redraw = timeEach(runs, [&](int) {
        window.showStatistics(recordAt(next++).data());
        QApplication::processEvents();  // the chart's update follows the notification
        paint(chart->view());
    });
    const Figures update = timeEach(runs, [&](int) { chart->rebuild(); });
    const std::size_t held = heapInUse() - before;
    const Figures everyPoint =
        paintEveryPoint(window.history(), window.chart()->view()->size(), std::min(runs, 10));

    const auto drawn = window.chart()->series(StatisticsSeries::Load)->count();
    std::printf("history: %zu reports (capacity %zu), chart %dx%d px, %lld points per series\n",
                window.history().size(), window.history().capacity(),
                window.chart()->view()->width(), window.chart()->view()->height(),
                static_cast<long long>(drawn));
    std::printf(
        "chart update alone (points, series, axes):         median %.2f ms, worst %.2f ms, "
        "CPU %.2f ms\n",
        update.medianMs, update.worstMs, update.medianCpuMs);
    std::printf(
        "redraw per report (fields, history, chart, paint): median %.2f ms, worst %.2f ms, "
        "CPU %.2f ms (target < 16 ms)\n",
        redraw.medianMs, redraw.worstMs, redraw.medianCpuMs);
    std::printf(
        "paint with all %d points per series, undecimated:  median %.2f ms, worst %.2f ms, "
        "CPU %.2f ms\n",
        kDay, everyPoint.medianMs, everyPoint.worstMs, everyPoint.medianCpuMs);
    std::printf(
        "memory held: history %.2f MiB, chart points %.2f MiB, total %.2f MiB "
        "(target < 10 MiB)\n",
        mib(history), mib(chartPoints), mib(held));
    return 0;
}
