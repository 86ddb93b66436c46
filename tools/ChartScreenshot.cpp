// Makes the screenshot of the statistics window's chart page: the terminal on
// the simulated board, two hours of reports at one per second run on a
// virtual clock, the window rendered offscreen to a PNG.
// Usage: k350-chart-screenshot <output.png>
#include <QApplication>
#include <QDateTime>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTabWidget>
#include <QTreeWidget>
#include <cstdio>

#include "config/Clock.h"
#include "monitor/ReportChart.h"
#include "monitor/ReportForm.h"
#include "shell/DeviceForm.h"
#include "sim/SimControl.h"
#include "tests/support/VirtualClock.h"
#include "tools/ScreenshotSupport.h"

namespace {

constexpr int kReports = 2 * 60 * 60;

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "chart.png";

    // The board's time is the clock's, so two hours pass in seconds.
    VirtualClock clock({9, 0, 0});
    k350sim::setClock([&clock] { return clock.nowUs(); },
                      [&clock](std::int64_t us) { clock.advanceUs(us); });
    const QDateTime start(QDate::currentDate(), QTime(9, 0));

    TFDevice window(TFDevice::Options{false, &clock});
    window.resize(800, 600);
    window.show();
    window.MTaskGetClick();
    runWorker(window);
    activate(window, QStringLiteral("Статистика"));
    auto* report = WindowRegistry::Find<TFReport>(WindowId::FReport);
    if (!report) {
        std::fprintf(stderr, "the statistics window did not open\n");
        return 1;
    }
    report->history().setTimeSource([&] { return start.addMSecs(clock.nowUs() / 1000); });
    report->BRunClick();
    runWorker(window);
    for (int second = 1; second < kReports; ++second) {
        clock.advanceUs(1'000'000);
        report->TimerTimer();
        runWorker(window);
    }
    report->findChild<QTabWidget*>("PageControl")->setCurrentWidget(report->chart());
    QApplication::processEvents();

    QWidget* frame = report->parentWidget() ? report->parentWidget() : report;
    if (!frame->grab().save(output)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s\n", qPrintable(output));
    return 0;
}
