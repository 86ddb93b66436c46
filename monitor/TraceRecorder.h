// Writes the trace lines to a file as they arrive, in the form saving the log gives them (UTF-8,
// a line break after each). What has arrived reaches the file within a second, so a trace left
// running all night keeps what it caught even when the program is closed or stops.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <cstdint>

#include "config/Clock.h"
#include "link/LinkTypes.h"

class QTimer;

class TraceRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t kFlushIntervalUs = 1'000'000;
    // How often waiting lines are looked at when none arrive; well under the flush interval.
    static constexpr int kCheckIntervalMs = 100;
    // Lines held back at most, however fast they come.
    static constexpr qsizetype kMaxPendingBytes = 1 << 20;

    explicit TraceRecorder(Clock& clock, QObject* parent = nullptr);
    ~TraceRecorder() override;  // stops, without a word of a failure

    // Starts a new file (an old one of the name is emptied); false, with errorString(), when it
    // cannot be opened for writing.
    bool start(const QString& path);
    // Writes what waits and closes the file; false when the file refused it (failed() then
    // says why).
    bool stop();
    bool isRecording() const { return file_.isOpen(); }
    QString path() const { return file_.fileName(); }
    QString errorString() const { return file_.errorString(); }
    bool hasPending() const { return !pending_.isEmpty(); }
    QTimer* checkTimer() const { return check_; }

    void append(const TraceLines& lines);
    // Writes the waiting lines once the oldest has waited the flush interval.
    void flushIfDue();

signals:
    // The file took no more lines; recording has stopped.
    void failed(const QString& path, const QString& reason);

private:
    bool writePending();

    Clock& clock_;
    QFile file_;
    QByteArray pending_;
    std::int64_t pendingSinceUs_ = 0;
    QTimer* check_ = nullptr;
};
