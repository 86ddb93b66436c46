#include "monitor/TraceFileWriter.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::size_t totalSize(const std::deque<std::string>& batch) {
    std::size_t bytes = 0;
    for (const std::string& part : batch) bytes += part.size();
    return bytes;
}

// errno of the failure, 0 when every byte went out.
int writeWhole(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        done += std::size_t(written);
    }
    return 0;
}

// A named pipe whose reader has gone answers EPIPE to this thread instead of ending the program.
void ignoreBrokenPipe() {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
}

}  // namespace

TraceFileWriter::TraceFileWriter(int fd, std::size_t maxQueuedBytes)
    : fd_(fd), maxQueuedBytes_(maxQueuedBytes), thread_([this] { run(); }) {}

TraceFileWriter::~TraceFileWriter() {
    finish();
    thread_.join();
}

TraceFileWriter::Offer TraceFileWriter::offer(std::string& bytes) {
    const std::lock_guard lock(mutex_);
    if (finishing_ || failed_) return Offer::Ended;
    if (state_.queuedBytes + bytes.size() > maxQueuedBytes_) return Offer::Full;
    state_.queuedBytes += bytes.size();
    queue_.push_back(std::move(bytes));
    bytes.clear();
    changed_.notify_all();
    return Offer::Taken;
}

void TraceFileWriter::finish(std::string lastBytes) {
    const std::lock_guard lock(mutex_);
    if (finishing_) return;
    finishing_ = true;
    if (!failed_ && !lastBytes.empty()) {
        state_.queuedBytes += lastBytes.size();
        queue_.push_back(std::move(lastBytes));
    }
    changed_.notify_all();
}

TraceFileWriter::State TraceFileWriter::state() const {
    const std::lock_guard lock(mutex_);
    return state_;
}

void TraceFileWriter::waitUntilWritten() const {
    std::unique_lock lock(mutex_);
    // A failed write is awaited to its end, so that the failure is seen with it.
    changed_.wait(lock, [this] { return state_.ended || (state_.queuedBytes == 0 && !failed_); });
}

void TraceFileWriter::waitUntilEnded() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return state_.ended; });
}

// The lock is held only to take a batch and to count it written, never during a write.
void TraceFileWriter::run() {
    ignoreBrokenPipe();
    std::deque<std::string> batch;
    while (takeBatch(batch)) {
        const int error = writeBatch(batch);
        batchWritten(totalSize(batch), error);
        batch.clear();
        if (error != 0) {
            ::close(fd_);  // the file is given up; what it took stays in it
            return end(error);
        }
    }
    end(closeFile());
}

// False once finishing with nothing left to write.
bool TraceFileWriter::takeBatch(std::deque<std::string>& batch) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !queue_.empty() || finishing_; });
    if (queue_.empty()) return false;
    batch.swap(queue_);
    return true;
}

int TraceFileWriter::writeBatch(const std::deque<std::string>& batch) const {
    for (const std::string& part : batch) {
        if (const int error = writeWhole(fd_, part)) return error;
    }
    return 0;
}

// A network file system may tell a full disk only at the sync or the close. A pipe or a device
// cannot be synced, which is no failure.
int TraceFileWriter::closeFile() const {
    int error = 0;
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP) error = errno;
    if (::close(fd_) != 0 && errno != EINTR && error == 0) error = errno;
    return error;
}

void TraceFileWriter::batchWritten(std::size_t bytes, int error) {
    const std::lock_guard lock(mutex_);
    state_.queuedBytes -= bytes;
    if (error == 0) state_.writtenBytes += bytes;
    if (error != 0) failed_ = true;
    changed_.notify_all();
}

void TraceFileWriter::end(int error) {
    const std::lock_guard lock(mutex_);
    state_.error = error;
    if (error != 0) failed_ = true;
    queue_.clear();
    state_.queuedBytes = 0;
    state_.ended = true;
    changed_.notify_all();
}
