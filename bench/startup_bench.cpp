// Start-up and idle figures of the terminal, offscreen:
//  - time from process start to the main window shown, against a bare Qt
//    main window built the same way, as a ratio (median of several runs);
//  - CPU used by the idle terminal over 10 seconds with the worker polling.
// Usage: bench_startup_bench [runs] [idle-seconds]
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "shell/DeviceForm.h"

namespace {

enum class Window { Terminal, Bare, BareWithText };

// Child mode: show the window, print "shown", quit.
int showAndQuit(Window kind) {
    QMainWindow* window =
        kind == Window::Terminal ? static_cast<QMainWindow*>(new TFDevice) : new QMainWindow;
    if (kind != Window::Terminal) window->resize(669, 585);
    // Any text shown makes Qt load its font database once; this baseline pays it too.
    if (kind == Window::BareWithText) window->setCentralWidget(new QLabel("K-350"));
    window->show();
    QTimer::singleShot(0, [] {
        std::puts("shown");
        std::fflush(stdout);
        QApplication::quit();
    });
    int rc = QApplication::exec();
    delete window;
    return rc;
}

double timeToShownMs(const QString& program, const QString& mode) {
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(program, {mode});
    child.waitForStarted();
    while (child.state() != QProcess::NotRunning || child.bytesAvailable()) {
        if (child.canReadLine() && child.readLine().startsWith("shown")) break;
        child.waitForReadyRead(5);
    }
    double elapsed = timer.nsecsElapsed() / 1e6;
    child.waitForFinished();
    return elapsed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void measureIdle(int seconds) {
    TFDevice window;
    window.show();
    QApplication::processEvents();
    double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, [] { QApplication::quit(); });
    QApplication::exec();
    double cpu = cpuSeconds() - cpuBefore;
    double elapsed = wall.elapsed() / 1000.0;
    std::printf("idle terminal: %.3f s CPU over %.1f s = %.3f %% of one core\n", cpu, elapsed,
                100.0 * cpu / elapsed);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() > 1 && args[1] == "--terminal") return showAndQuit(Window::Terminal);
    if (args.size() > 1 && args[1] == "--bare") return showAndQuit(Window::Bare);
    if (args.size() > 1 && args[1] == "--bare-text") return showAndQuit(Window::BareWithText);

    const int runs = args.size() > 1 ? args[1].toInt() : 9;
    const int idleSeconds = args.size() > 2 ? args[2].toInt() : 10;
    std::vector<double> terminal, bare, bareText;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(timeToShownMs(args[0], "--bare"));
        bareText.push_back(timeToShownMs(args[0], "--bare-text"));
        terminal.push_back(timeToShownMs(args[0], "--terminal"));
    }
    const double t = median(terminal), b = median(bare), bt = median(bareText);
    std::printf(
        "start to shown (median of %d): terminal %.1f ms, bare Qt window %.1f ms, "
        "ratio %.2f (target < 1.5)\n",
        runs, t, b, t / b);
    std::printf(
        "  against a bare window showing one label (font database loaded): %.1f ms, "
        "ratio %.2f\n",
        bt, t / bt);
    measureIdle(idleSeconds);
    return 0;
}
