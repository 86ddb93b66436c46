// TK350: the worker thread that alone owns the USB link to the board. It takes the windows'
// requests one at a time, runs the board operation each names (link/*Operation) on its link,
// and lets a WindowNotifier turn the operation's reports into the windows' notifications.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/BoardLink.h"
#include "config/Clock.h"
#include "link/FirmwareOperation.h"
#include "link/LinkTypes.h"
#include "link/NotificationChannel.h"
#include "link/RequestEvents.h"
#include "link/UsbProtocol.h"
#include "link/WindowNotifier.h"

class TK350 {
public:
    TK350(NotificationChannel& channel, Clock& clock);
    // Shares ownership of what it uses, so a worker left to finish on its own
    // never reaches a channel or clock destroyed before it.
    TK350(std::shared_ptr<NotificationChannel> channel, std::shared_ptr<Clock> clock);
    ~TK350();  // stops the thread, if running, and waits for its exit sequence
    TK350(const TK350&) = delete;
    TK350& operator=(const TK350&) = delete;

    // Thread control.
    void start();  // runs the loop on its own thread, one step below normal priority
    void requestStop();
    bool waitForExit(std::chrono::milliseconds limit);
    bool hasExited() const { return exited_.load(); }
    bool stopRequested() const { return stop_.load(); }
    bool isRunning() const { return thread_.joinable(); }
    // Lets the thread finish on its own; the object must then outlive it.
    void detach() { thread_.detach(); }

    // Requests, safe from any thread.
    // The requester is the generation of the window that asks; the operation
    // then talks only to that window of its class.
    void signal(WorkerRequest request, WindowGeneration requester = kAnyGeneration) {
        events_.signal(request, requester);
    }
    void reset(WorkerRequest request) { events_.reset(request); }
    bool isSignalled(WorkerRequest request) const { return events_.isSignalled(request); }

    // One pass of the loop without the sleep: takes the lowest signalled
    // request and runs it. For tests that drive the worker synchronously.
    bool runOnePass();
    void runOperation(WorkerRequest request, WindowGeneration requester = kAnyGeneration);
    void runExitSequence();

    // After each sector erase and page program the download polls the flash's status at once
    // instead of pausing 800 ms and 1 ms first (what k350ctl's --poll does); the terminal keeps
    // the pauses.
    void setFlashPolling(bool poll) { firmwareOptions_.pollInsteadOfPausing = poll; }

    // Link layer (link/BoardLink), its reports to the main window.
    void OpenLink(int configuration);
    void QueryLink();
    void CloseLink() { link_.close(); }

    // The eleven operations.
    void ReadConfig();
    void WriteConfig();
    void LoadFirmware();
    void ReadStatistics();
    void ResetStatistics();
    void SendCodec() { sendLiveSetting(WorkerRequest::SendCodec); }
    void SendAmplifier() { sendLiveSetting(WorkerRequest::SendAmplifier); }
    void SendVocoder() { sendLiveSetting(WorkerRequest::SendVocoder); }
    void SendRecorder() { sendLiveSetting(WorkerRequest::SendRecorder); }
    void SetTrace();
    void PollTrace();

    // The worker's clock; the windows that measure time use it too (safe from any thread).
    Clock& clock() const { return clock_; }

    // State, for tests and diagnostics (worker thread, or while it is idle).
    bool isLinkOpen() const { return link_.isOpen(); }
    const DeviceIds& deviceIds() const { return link_.ids(); }
    std::uint32_t bufferSize() const { return link_.bufferSize(); }
    std::uint32_t capacity() const { return link_.capacity(); }
    int lastResult() const { return link_.lastResult(); }

private:
    void threadBody();
    void lowerThreadPriority();
    void dispatch(WorkerRequest request);
    // The observer of one operation: its requester addressed by the generation that asked.
    WindowNotifier notifierFor(WorkerRequest request);
    // The link's own reports (open, query) go to the main window, whoever holds it.
    WindowNotifier mainWindowNotifier();
    // Runs one operation with its requester's notifier, finished after it whatever its ending.
    template <class Operation>
    void runNotified(WorkerRequest request, Operation&& operation) {
        WindowNotifier notifier = notifierFor(request);
        operation(notifier);
        notifier.finish();
    }
    void reportStatistics(WorkerRequest request);
    void sendLiveSetting(WorkerRequest request);

    std::shared_ptr<NotificationChannel> channelOwner_;
    std::shared_ptr<Clock> clockOwner_;
    NotificationChannel& channel_;
    Clock& clock_;
    RequestEvents events_;
    WindowGeneration requesterGeneration_ = kAnyGeneration;  // of the operation under way

    BoardLink link_;
    TraceLines traceLines_;  // filled and emptied by PollTrace
    FirmwareOptions firmwareOptions_;

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> exited_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
};
