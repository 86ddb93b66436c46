#include "monitor/TraceRecorder.h"

#include <fcntl.h>

#include <QFile>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Said in the window's log after "прервана: ".
QString writeFailureText(int error) {
    switch (error) {
        case ENOSPC:
            return QStringLiteral("на диске нет места");
        case EDQUOT:
            return QStringLiteral("превышена дисковая квота");
        case EFBIG:
            return QStringLiteral("файл превысил допустимый размер");
        case EIO:
            return QStringLiteral("ошибка ввода-вывода");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
}

// Stands in the file where lines that found no room are missing.
std::string gapLine(std::uint64_t lines) {
    return "*** пропущено строк: " + std::to_string(lines) + " (диск не успевал) ***\n";
}

}  // namespace

TraceRecorder::TraceRecorder(Clock& clock, std::size_t maxQueuedBytes, QObject* parent)
    : QObject(parent), clock_(clock), maxQueuedBytes_(maxQueuedBytes), check_(new QTimer(this)) {
    check_->setInterval(kCheckIntervalMs);
    connect(check_, &QTimer::timeout, this, &TraceRecorder::check);
}

TraceRecorder::~TraceRecorder() {
    finish();
    writer_.reset();
}

bool TraceRecorder::start(const QString& path) {
    path_ = path;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        errorString_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    writer_ = std::make_unique<TraceFileWriter>(fd, maxQueuedBytes_);
    check_->start();
    return true;
}

void TraceRecorder::finish() {
    if (!writer_ || finishing_) return;
    finishing_ = true;
    writer_->finish(withGapMarked(takePending()));
}

void TraceRecorder::append(const TraceLines& lines) {
    if (!writer_ || finishing_ || lines.empty()) return;
    if (pending_.empty()) pendingSinceUs_ = clock_.nowUs();
    for (const std::string& line : lines) {
        pending_ += line;
        pending_ += '\n';
    }
    pendingLines_ += lines.size();
    if (pending_.size() >= kHandOverBytes) handOver();
}

void TraceRecorder::check() {
    if (!writer_ || ended_) return;
    if (!finishing_ && !pending_.empty() && clock_.nowUs() - pendingSinceUs_ >= kFlushIntervalUs) {
        handOver();
    }
    const TraceFileWriter::State state = writer_->state();
    if (state.ended) reportEnd(state);
}

void TraceRecorder::waitForWriter() const {
    if (!writer_) return;
    if (finishing_) return writer_->waitUntilEnded();
    writer_->waitUntilWritten();
}

std::size_t TraceRecorder::queuedBytes() const {
    return writer_ ? writer_->state().queuedBytes : 0;
}

void TraceRecorder::handOver() {
    const std::uint64_t gap = gapLines_;
    const std::size_t lines = pendingLines_;
    std::string bytes = withGapMarked(takePending());
    switch (writer_->offer(bytes)) {
        case TraceFileWriter::Offer::Taken:
            break;
        case TraceFileWriter::Offer::Full:
            gapLines_ = gap;
            leaveOut(lines);
            break;
        case TraceFileWriter::Offer::Ended:  // failed: check() says so
            break;
    }
}

// The mark of the lines left out since the writer last took any goes before the lines after them.
std::string TraceRecorder::withGapMarked(std::string lines) {
    if (gapLines_ == 0) return lines;
    std::string bytes = gapLine(std::exchange(gapLines_, 0));
    bytes += lines;
    return bytes;
}

void TraceRecorder::leaveOut(std::size_t lines) {
    const bool first = droppedLines_ == 0;
    gapLines_ += lines;
    droppedLines_ += lines;
    if (first) emit fallingBehind(path_);
}

std::string TraceRecorder::takePending() {
    std::string bytes;
    bytes.swap(pending_);
    pendingLines_ = 0;
    return bytes;
}

// Said once, from the timer; the receiver may release the recorder then.
void TraceRecorder::reportEnd(const TraceFileWriter::State& state) {
    ended_ = true;
    check_->stop();
    if (state.error != 0) {
        emit failed(path_, writeFailureText(state.error));
    } else {
        emit finished(path_, droppedLines_);
    }
}
