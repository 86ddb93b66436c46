// Feeds the trace window trace lines (10 million unless told) in notifications
// of 100 lines each, as fast as the event loop takes them, and prints the
// append rate, the longest stall of the event loop and the memory the log then
// holds (at most its line limit are kept). With --record the lines also go to
// a file through "Записывать в файл…", and the figures of the file follow.
// Usage: bench_trace_bench [lines] [--record]
#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>

#include "monitor/TraceForm.h"
#include "tests/support/FakeDialogs.h"

namespace {

constexpr long kDefaultLineCount = 10'000'000;
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
std::string traceLine(long index) {
    static const char* const labels[] = {
        "Bus+(RxD): ", "Bus+(TxD): ", "Link(RxD): ", "Link(TxD): "};
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d ", int((index / 3600) % 24),
                  int((index / 60) % 60), int(index % 60));
    std::string line = std::string(time) + labels[index % 4];
    const int byteCount = int(1 + (index * 7) % 16);
    for (int i = 0; i < byteCount; ++i) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X; ", unsigned(index + i * 31) & 0xFF);
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
    std::size_t textBytes = 0;
    qint64 longestStallUs = 0;
    qint64 longestNotificationUs = 0;
    int ticks = 0;
};

// The lines are made batch by batch as they are fed, as the worker makes them.
Figures feed(TFTrace& window, long lineCount) {
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

    long next = 0;
    TraceLines batch;
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (next == lineCount) {
            feeder.stop();
            QTimer::singleShot(50, qApp, &QApplication::quit);  // let the last paint happen
            return;
        }
        batch.clear();
        for (int i = 0; i < kLinesPerNotification && next < lineCount; ++i) {
            batch.push_back(traceLine(next++));
            figures.textBytes += batch.back().size() + 1;
        }
        QElapsedTimer handling;
        handling.start();
        window.onWorkerNotification(
            {NotifyCode::TraceLines, reinterpret_cast<std::intptr_t>(&batch)});
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
    const QStringList args = QApplication::arguments();
    const bool record = args.contains("--record");
    long lineCount = kDefaultLineCount;
    if (args.size() > 1 && args[1] != "--record") lineCount = std::max(1L, args[1].toLong());

    TFTrace window;
    if (!qEnvironmentVariableIsSet("BENCH_HIDDEN")) window.show();
    QApplication::processEvents();
    QTemporaryDir folder;
    const QString path = folder.filePath("trace.txt");
    if (record) {
        FakeDialogs dialogs;
        dialogs.saveAnswers.push_back(path);
        window.recordAction()->trigger();
    }
    const long rssBefore = residentKiB();

    const double cpuBefore = cpuSeconds();
    const Figures figures = feed(window, lineCount);
    const double cpu = cpuSeconds() - cpuBefore;
    const long rssAfter = residentKiB();

    std::printf(
        "lines appended:          %ld (%d per notification), %zu rows in the log (limit %zu)\n",
        lineCount, kLinesPerNotification, window.log()->lineCount(),
        TraceLineStore::kDefaultLineLimit);
    std::printf("total time:              %.3f s\n", figures.seconds);
    std::printf("lines per second:        %.0f\n", double(lineCount) / figures.seconds);
    std::printf("CPU time of the process: %.3f s\n", cpu);
    std::printf("longest event-loop stall: %.1f ms (1 ms heartbeat, %d ticks)\n",
                figures.longestStallUs / 1000.0, figures.ticks);
    std::printf("longest notification:    %.1f ms\n", figures.longestNotificationUs / 1000.0);
    std::printf("trace text:              %.1f MiB as UTF-8, %.1f MiB held in the log\n",
                figures.textBytes / 1048576.0, window.log()->textBytes() / 1048576.0);
    std::printf("RSS growth:              %.1f MiB (%ld -> %ld KiB)\n",
                (rssAfter - rssBefore) / 1024.0, rssBefore, rssAfter);
    if (record) {
        // Quitting closed the window, which ended the recording with the lines still waiting.
        const qint64 written = QFileInfo(path).size();
        std::printf("recorded file:           %.1f MiB, %s\n", written / 1048576.0,
                    written == qint64(figures.textBytes) ? "every line" : "LINES MISSING");
    }
    return 0;
}
