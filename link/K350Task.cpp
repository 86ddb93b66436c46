#include "link/K350Task.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "link/ConfigReadOperation.h"
#include "link/ConfigWriteOperation.h"
#include "link/LiveSettingOperation.h"
#include "link/StatisticsOperation.h"
#include "link/TracePollOperation.h"
#include "link/TraceSelectOperation.h"

namespace {
constexpr std::chrono::milliseconds kPollInterval{50};
}  // namespace

TK350::TK350(NotificationChannel& channel, Clock& clock)
    : channel_(channel), clock_(clock), link_(clock) {}

TK350::TK350(std::shared_ptr<NotificationChannel> channel, std::shared_ptr<Clock> clock)
    : channelOwner_(std::move(channel)),
      clockOwner_(std::move(clock)),
      channel_(*channelOwner_),
      clock_(*clockOwner_),
      link_(clock_) {}

TK350::~TK350() {
    requestStop();
    if (thread_.joinable()) thread_.join();
}

// --- thread ------------------------------------------------------------------

void TK350::start() {
    thread_ = std::thread([this] { threadBody(); });
}

void TK350::requestStop() {
    {
        std::lock_guard lock(wakeMutex_);
        stop_.store(true);
    }
    wake_.notify_all();
}

bool TK350::waitForExit(std::chrono::milliseconds limit) {
    std::unique_lock lock(wakeMutex_);
    return wake_.wait_for(lock, limit, [this] { return exited_.load(); });
}

void TK350::lowerThreadPriority() {
    // Linux applies nice values per thread: one step below the process's own.
    errno = 0;
    int current = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) setpriority(PRIO_PROCESS, gettid(), current + 1);
}

void TK350::threadBody() {
    lowerThreadPriority();
    while (!stop_.load()) {
        {
            std::unique_lock lock(wakeMutex_);
            wake_.wait_for(lock, kPollInterval, [this] { return stop_.load(); });
        }
        if (stop_.load()) break;
        runOnePass();
    }
    runExitSequence();
    {
        std::lock_guard lock(wakeMutex_);
        exited_.store(true);
    }
    wake_.notify_all();
}

bool TK350::runOnePass() {
    auto taken = events_.takeLowest();
    if (!taken) return false;
    runOperation(taken->request, taken->requester);
    return true;
}

void TK350::runOperation(WorkerRequest request, WindowGeneration requester) {
    requesterGeneration_ = requester;
    dispatch(request);
    requesterGeneration_ = kAnyGeneration;
}

void TK350::dispatch(WorkerRequest request) {
    switch (request) {
        case WorkerRequest::ReadConfig:
            return ReadConfig();
        case WorkerRequest::WriteConfig:
            return WriteConfig();
        case WorkerRequest::LoadFirmware:
            return LoadFirmware();
        case WorkerRequest::ReadStatistics:
            return ReadStatistics();
        case WorkerRequest::ResetStatistics:
            return ResetStatistics();
        case WorkerRequest::SendCodec:
            return SendCodec();
        case WorkerRequest::SendAmplifier:
            return SendAmplifier();
        case WorkerRequest::SendVocoder:
            return SendVocoder();
        case WorkerRequest::SendRecorder:
            return SendRecorder();
        case WorkerRequest::SetTrace:
            return SetTrace();
        case WorkerRequest::PollTrace:
            return PollTrace();
    }
}

void TK350::runExitSequence() {
    link_.drainAndClose();
}

WindowNotifier TK350::notifierFor(WorkerRequest request) {
    // The configuration write hands over the main window's record, everything else the
    // requester's own bytes.
    const WindowId fillTarget =
        request == WorkerRequest::WriteConfig ? WindowId::FDevice : RequesterOf(request);
    return WindowNotifier(channel_, RequesterOf(request), requesterGeneration_, fillTarget, stop_);
}

WindowNotifier TK350::mainWindowNotifier() {
    return WindowNotifier(channel_, WindowId::FDevice, kAnyGeneration, WindowId::FDevice, stop_);
}

// --- link layer --------------------------------------------------------------

void TK350::OpenLink(int configuration) {
    WindowNotifier notifier = mainWindowNotifier();
    link_.open(configuration, notifier);
}

void TK350::QueryLink() {
    WindowNotifier notifier = mainWindowNotifier();
    link_.query(notifier);
}

// --- the eleven operations ---------------------------------------------------

void TK350::ReadConfig() {
    runNotified(WorkerRequest::ReadConfig, [this](WindowNotifier& notifier) {
        const OperationResult<ConfigSnapshot> read = ReadConfiguration(link_, notifier);
        if (read.done()) notifier.configuration(read.value);
    });
}

void TK350::WriteConfig() {
    runNotified(WorkerRequest::WriteConfig,
                [this](WindowNotifier& notifier) { WriteConfiguration(link_, notifier); });
}

void TK350::LoadFirmware() {
    runNotified(WorkerRequest::LoadFirmware, [this](WindowNotifier& notifier) {
        DownloadFirmware(link_, notifier, firmwareOptions_);
    });
}

void TK350::ReadStatistics() {
    reportStatistics(WorkerRequest::ReadStatistics);
}

void TK350::ResetStatistics() {
    reportStatistics(WorkerRequest::ResetStatistics);
}

void TK350::reportStatistics(WorkerRequest request) {
    const StatisticsRequest kind = request == WorkerRequest::ResetStatistics
                                       ? StatisticsRequest::Reset
                                       : StatisticsRequest::Read;
    runNotified(request, [this, kind](WindowNotifier& notifier) {
        const OperationResult<LinkStatisticsReply> reply = RequestStatistics(link_, notifier, kind);
        if (reply.done()) notifier.statistics(reply.value);
    });
}

void TK350::sendLiveSetting(WorkerRequest request) {
    runNotified(request, [this, request](WindowNotifier& notifier) {
        SendLiveSetting(link_, notifier, LiveSettingOf(request));
    });
}

void TK350::SetTrace() {
    runNotified(WorkerRequest::SetTrace,
                [this](WindowNotifier& notifier) { SelectTrace(link_, notifier); });
}

// The lines go over in one notification, only when the poll made any.
void TK350::PollTrace() {
    traceLines_.clear();
    runNotified(WorkerRequest::PollTrace, [this](WindowNotifier& notifier) {
        OperationResult<TraceLines> polled = PollTraceRecords(link_, notifier);
        if (polled.done()) traceLines_ = std::move(polled.value);
        if (!traceLines_.empty()) notifier.traceLines(traceLines_);
        traceLines_.clear();
    });
}
