#include "monitor/TraceRecorder.h"

#include <QTimer>

TraceRecorder::TraceRecorder(Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock), check_(new QTimer(this)) {
    check_->setInterval(kCheckIntervalMs);
    connect(check_, &QTimer::timeout, this, &TraceRecorder::flushIfDue);
}

TraceRecorder::~TraceRecorder() {
    blockSignals(true);
    stop();
}

bool TraceRecorder::start(const QString& path) {
    stop();
    file_.setFileName(path);
    // Unbuffered: what is written has reached the system, where other programs see it.
    return file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

bool TraceRecorder::stop() {
    if (!file_.isOpen()) return true;
    if (!writePending()) return false;
    file_.close();
    return true;
}

void TraceRecorder::append(const TraceLines& lines) {
    if (!file_.isOpen() || lines.empty()) return;
    if (pending_.isEmpty()) pendingSinceUs_ = clock_.nowUs();
    for (const std::string& line : lines) {
        pending_.append(line.data(), qsizetype(line.size()));
        pending_.append('\n');
    }
    if (pending_.size() >= kMaxPendingBytes) {
        writePending();
    } else {
        flushIfDue();
    }
    if (!pending_.isEmpty()) check_->start();
}

void TraceRecorder::flushIfDue() {
    if (pending_.isEmpty()) return check_->stop();
    if (clock_.nowUs() - pendingSinceUs_ >= kFlushIntervalUs) writePending();
}

// False when the file refused the lines: it is then closed and the failure reported.
bool TraceRecorder::writePending() {
    check_->stop();
    if (pending_.isEmpty()) return true;
    const bool written = file_.write(pending_) == pending_.size();
    pending_.clear();
    if (written) return true;
    const QString reason = file_.errorString();
    file_.close();
    emit failed(file_.fileName(), reason);
    return false;
}
