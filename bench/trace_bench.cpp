// Feeds the trace window 100,000 trace lines in notifications of 100 lines
// each, as fast as the event loop takes them, and prints the append rate, the
// longest stall of the event loop and the memory the log then holds.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>

#include "monitor/TraceForm.h"

namespace {

constexpr int kLineCount = 100000;
constexpr int kLinesPerNotification = 100;

long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// A line as the worker makes it: time, label, 1 to 16 traced bytes.
std::string traceLine(int index) {
    static const char* const labels[] = {
        "Bus+(RxD): ", "Bus+(TxD): ", "Link(RxD): ", "Link(TxD): "};
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d ", (index / 3600) % 24, (index / 60) % 60,
                  index % 60);
    std::string line = std::string(time) + labels[index % 4];
    const int byteCount = 1 + (index * 7) % 16;
    for (int i = 0; i < byteCount; ++i) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X; ", (index + i * 31) & 0xFF);
        line += byte;
    }
    return line;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    double seconds = 0;
    qint64 longestStallUs = 0;
    qint64 longestNotificationUs = 0;
    int ticks = 0;
};

Figures feed(TFTrace& window, const std::vector<TraceLines>& batches) {
    Figures figures;
    QElapsedTimer clock;
    qint64 lastTickUs = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed() / 1000;
        figures.longestStallUs = std::max(figures.longestStallUs, now - lastTickUs);
        lastTickUs = now;
        ++figures.ticks;
    });

    std::size_t next = 0;
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (next == batches.size()) {
            feeder.stop();
            QTimer::singleShot(50, qApp, &QApplication::quit);  // let the last paint happen
            return;
        }
        QElapsedTimer handling;
        handling.start();
        window.onWorkerNotification(
            {NotifyCode::TraceLines, reinterpret_cast<std::intptr_t>(&batches[next++])});
        figures.longestNotificationUs =
            std::max(figures.longestNotificationUs, handling.nsecsElapsed() / 1000);
    });

    clock.start();
    heartbeat.start();
    feeder.start();
    QApplication::exec();
    figures.seconds = (clock.nsecsElapsed() / 1000 - 50000) / 1e6;
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));

    std::vector<TraceLines> batches(kLineCount / kLinesPerNotification);
    std::size_t textBytes = 0;
    for (int i = 0; i < kLineCount; ++i) {
        batches[i / kLinesPerNotification].push_back(traceLine(i));
        textBytes += batches[i / kLinesPerNotification].back().size() + 1;
    }

    TFTrace window;
    if (!qEnvironmentVariableIsSet("BENCH_HIDDEN")) window.show();
    QApplication::processEvents();
    const long rssBefore = residentKiB();

    const double cpuBefore = cpuSeconds();
    const Figures figures = feed(window, batches);
    const double cpu = cpuSeconds() - cpuBefore;
    const long rssAfter = residentKiB();

    std::printf("lines appended:          %d (%d per notification), %d in the log\n", kLineCount,
                kLinesPerNotification, static_cast<int>(window.log()->lineCount()));
    std::printf("total time:              %.3f s\n", figures.seconds);
    std::printf("lines per second:        %.0f\n", kLineCount / figures.seconds);
    std::printf("CPU time of the process: %.3f s\n", cpu);
    std::printf("longest event-loop stall: %.1f ms (1 ms heartbeat, %d ticks)\n",
                figures.longestStallUs / 1000.0, figures.ticks);
    std::printf("longest notification:    %.1f ms\n", figures.longestNotificationUs / 1000.0);
    std::printf("log text:                %.1f MiB as UTF-8\n", textBytes / 1048576.0);
    std::printf("RSS growth:              %.1f MiB (%ld -> %ld KiB)\n",
                (rssAfter - rssBefore) / 1024.0, rssBefore, rssAfter);
    return 0;
}
