// Writes the trace lines to a file as they arrive, in the form saving the log gives them (UTF-8,
// a line break after each). What has arrived is handed to the file's writer within a second, so
// a trace left running all night keeps what it caught even when the program is closed or stops.
// The writer is a thread of its own (TraceFileWriter): a slow disk never holds up the window.
// While the disk lags, the bytes waiting for it are bounded; lines that find no room are left
// out, counted, and marked in the file where they are missing, and the recorder says once that
// the disk falls behind.
#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "config/Clock.h"
#include "link/LinkTypes.h"
#include "monitor/TraceFileWriter.h"

class QTimer;

class TraceRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t kFlushIntervalUs = 1'000'000;
    // How often the waiting lines and the writer are looked at; well under the flush interval.
    static constexpr int kCheckIntervalMs = 100;
    // Waiting lines are handed to the writer at this size, however fast they come.
    static constexpr std::size_t kHandOverBytes = 256 * 1024;
    // Bytes waiting for the disk at most (a few seconds of the fastest trace a window shows).
    static constexpr std::size_t kMaxQueuedBytes = 16 * 1024 * 1024;

    explicit TraceRecorder(Clock& clock, std::size_t maxQueuedBytes = kMaxQueuedBytes,
                           QObject* parent = nullptr);
    // Finishes and waits for the writer, without a word: every line taken reaches the file.
    ~TraceRecorder() override;

    // Starts a new file (an old one of the name is emptied); false, with errorString(), when it
    // cannot be opened for writing.
    bool start(const QString& path);
    // Hands over what waits and asks the writer to write it, sync and close the file; finished()
    // or failed() follows, from the check timer, once it has.
    void finish();
    bool isFinishing() const { return finishing_; }
    QString path() const { return path_; }
    QString errorString() const { return errorString_; }
    QTimer* checkTimer() const { return check_; }

    void append(const TraceLines& lines);
    // What the check timer does: hands over the waiting lines once the oldest has waited the
    // flush interval, and reports the writer's end.
    void check();
    // Blocks until the writer has written what it was handed, and once finishing until the file
    // is closed (or the writer has failed); for tests and the benchmark, which then check().
    void waitForWriter() const;
    std::uint64_t droppedLines() const { return droppedLines_; }
    std::size_t queuedBytes() const;

signals:
    // Lines found no room while the disk lagged; said once a recording.
    void fallingBehind(const QString& path);
    // Every line is in the closed file, but droppedLines that found no room.
    void finished(const QString& path, quint64 droppedLines);
    // The file took no more lines; recording has stopped.
    void failed(const QString& path, const QString& reason);

private:
    void handOver();
    void leaveOut(std::size_t lines);
    std::string takePending();
    std::string withGapMarked(std::string lines);
    void reportEnd(const TraceFileWriter::State& state);

    Clock& clock_;
    const std::size_t maxQueuedBytes_;
    QTimer* check_ = nullptr;
    std::unique_ptr<TraceFileWriter> writer_;
    QString path_;
    QString errorString_;
    std::string pending_;
    std::size_t pendingLines_ = 0;
    std::int64_t pendingSinceUs_ = 0;
    std::uint64_t gapLines_ = 0;  // left out since the last bytes the writer took
    std::uint64_t droppedLines_ = 0;
    bool finishing_ = false;
    bool ended_ = false;
};
