// Writes a recording's bytes to its file on a thread of its own, so that a slow or busy disk (a
// network home folder) holds up only this thread, never the window that hands the bytes over.
// The bytes waiting for the disk are bounded: what does not fit is refused, and the caller
// decides what becomes of it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class TraceFileWriter {
public:
    enum class Offer {
        Taken,  // queued; the bytes given are moved out
        Full,   // the queue would pass its bound; the bytes stay with the caller
        Ended,  // the file is finishing or has failed; nothing more is taken
    };
    struct State {
        bool ended = false;  // the file is closed (or failed) and the thread has nothing left to do
        int error = 0;       // errno of the first write, sync or close that failed
        std::size_t queuedBytes = 0;  // given and not yet written, the write under way included
        std::uint64_t writtenBytes = 0;
    };

    // Takes an open file descriptor, written from now on by the writer's thread only.
    TraceFileWriter(int fd, std::size_t maxQueuedBytes);
    // Finishes, and waits until everything taken is written and the file closed.
    ~TraceFileWriter();
    TraceFileWriter(const TraceFileWriter&) = delete;
    TraceFileWriter& operator=(const TraceFileWriter&) = delete;

    Offer offer(std::string& bytes);
    // Takes the last bytes whatever the bound (one hand-over at most), then writes what waits,
    // syncs and closes the file.
    void finish(std::string lastBytes = {});
    State state() const;
    std::size_t maxQueuedBytes() const { return maxQueuedBytes_; }
    // Blocks until every byte taken so far is written or the writer has ended.
    void waitUntilWritten() const;
    // Blocks until the file is closed; finish() must have been asked.
    void waitUntilEnded() const;

private:
    void run();
    bool takeBatch(std::deque<std::string>& batch);
    int writeBatch(const std::deque<std::string>& batch) const;
    int closeFile() const;
    void batchWritten(std::size_t bytes, int error);
    void end(int error);

    const int fd_;
    const std::size_t maxQueuedBytes_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::string> queue_;
    State state_;
    bool finishing_ = false;
    bool failed_ = false;
    std::thread thread_;  // last: started once everything it reads is made
};
