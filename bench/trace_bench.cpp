// Feeds the trace window trace lines (10 million unless told) in notifications
// of 100 lines each, as fast as the event loop takes them, and prints the
// append rate, the longest stall of the event loop and the memory the log then
// holds (at most its line limit are kept). With --record the lines also go to
// a file through "Записывать в файл…", and the figures of the file follow: the
// lines recorded per second, how long the writer needed after the last line,
// and the lines left out. With --slow-disk MB/s the file is a named pipe read
// at that rate, as a busy or network disk takes it.
// Usage: bench_trace_bench [lines] [--record] [--slow-disk MB/s]
#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "monitor/TraceForm.h"
#include "tests/support/FakeDialogs.h"
#include "tests/support/FileBytes.h"
#include "tests/support/StalledDisk.h"
#include "tests/support/TemporaryFolder.h"

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

// The recorded lines counted as they come: trace lines, and the lines a gap mark says are missing.
class LineCounter {
public:
    void take(const char* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) takeChar(bytes[i]);
    }
    long lines = 0;
    long missing = 0;

private:
    void takeChar(char c) {
        if (c == '\n') return endLine();
        if (line_.size() < kMarkPrefix.size()) {
            line_ += c;
        } else if (line_ == kMarkPrefix && inNumber_ &&
                   std::isdigit(static_cast<unsigned char>(c))) {
            number_ = number_ * 10 + (c - '0');
        } else {
            inNumber_ = false;
        }
    }
    void endLine() {
        if (line_ == kMarkPrefix) {
            missing += number_;
        } else {
            ++lines;
        }
        line_.clear();
        number_ = 0;
        inNumber_ = true;
    }

    static inline const std::string kMarkPrefix = "*** пропущено строк: ";
    std::string line_;
    long number_ = 0;
    bool inNumber_ = true;
};

// A named pipe read at a fixed rate in its own thread, as a slow disk takes the file.
class SlowDisk {
public:
    SlowDisk(const TemporaryFolder& folder, double megabytesPerSecond)
        : pipe_(folder, "trace.txt"), bytesPerTick_(std::size_t(megabytesPerSecond * 1e6 / 100)) {
        reader_ = std::thread([this] { readAll(); });
    }
    ~SlowDisk() {
        if (reader_.joinable()) reader_.join();
    }
    QString path() const { return QString::fromStdString(pipe_.path()); }
    const LineCounter& counted() {
        if (reader_.joinable()) reader_.join();
        return counter_;
    }

private:
    // Until the writer closes its end: at most bytesPerTick_ each 10 ms (a pipe gives 64 KiB a
    // read at most, so a tick may take several).
    void readAll() {
        std::vector<char> buffer(bytesPerTick_);
        const int fd = ::open(pipe_.path().c_str(), O_RDONLY | O_CLOEXEC);  // a second reader
        pipe_.closeReader();
        for (bool open = true; open;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (std::size_t budget = bytesPerTick_; budget > 0 && open;) {
                const ssize_t got = ::read(fd, buffer.data(), budget);
                open = got != 0;
                if (got <= 0) continue;
                counter_.take(buffer.data(), std::size_t(got));
                budget -= std::size_t(got);
            }
        }
        ::close(fd);
    }

    StalledDisk pipe_;
    std::size_t bytesPerTick_;
    LineCounter counter_;
    std::thread reader_;
};

struct Recording {
    double finishSeconds = 0;  // from the stop until the file was closed
    quint64 droppedLines = 0;
};

// Stops the recording and waits for its writer, as the window's timer would see it end.
Recording finishRecording(TFTrace& window) {
    Recording recording;
    QElapsedTimer finishing;
    finishing.start();
    window.recordAction()->trigger();
    for (TraceRecorder* recorder : window.recordings()) {
        recorder->waitForWriter();
        recording.droppedLines += recorder->droppedLines();
        recorder->check();
    }
    recording.finishSeconds = finishing.nsecsElapsed() / 1e9;
    return recording;
}

void printRecording(const Recording& recording, const LineCounter& file, long lineCount,
                    double feedSeconds) {
    std::printf("recording finished:      %.3f s after the last line\n", recording.finishSeconds);
    std::printf("lines recorded per s:    %.0f (from the first line to the closed file)\n",
                double(file.lines) / (feedSeconds + recording.finishSeconds));
    std::printf("lines left out:          %llu (marked in the file: %ld)\n",
                static_cast<unsigned long long>(recording.droppedLines), file.missing);
    std::printf(
        "recorded file:           %ld lines, %s\n", file.lines,
        file.lines + file.missing == lineCount && file.missing == long(recording.droppedLines)
            ? "every line recorded or marked"
            : "LINES MISSING UNSAID");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const QStringList args = QApplication::arguments();
    const qsizetype slowAt = args.indexOf("--slow-disk");
    const double slowRate =
        slowAt > 0 && slowAt + 1 < args.size() ? args[slowAt + 1].toDouble() : 0;
    const bool record = args.contains("--record") || slowRate > 0;
    long lineCount = kDefaultLineCount;
    if (args.size() > 1 && !args[1].startsWith("--")) lineCount = std::max(1L, args[1].toLong());

    TFTrace window;
    if (!qEnvironmentVariableIsSet("BENCH_HIDDEN")) window.show();
    QApplication::processEvents();
    TemporaryFolder folder("k350-bench");
    std::unique_ptr<SlowDisk> slowDisk;
    if (slowRate > 0) slowDisk = std::make_unique<SlowDisk>(folder, slowRate);
    const QString path =
        slowDisk ? slowDisk->path() : QString::fromStdString(folder.file("trace.txt"));
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
    if (!record) return 0;
    if (slowDisk) std::printf("slow disk:               %.1f MB/s\n", slowRate);
    const Recording recording = finishRecording(window);
    LineCounter file;
    if (slowDisk) {
        file = slowDisk->counted();
    } else {
        const std::vector<std::uint8_t> bytes = ReadFileBytes(folder.file("trace.txt"));
        file.take(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    printRecording(recording, file, lineCount, figures.seconds);
    return 0;
}
