#include "store/RetryingRunStore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

RetryingRunStore::RetryingRunStore(std::string location, Clock& clock, double retrySeconds,
                                   Waiting waiting, Stopping stopping)
    : location_(std::move(location)),
      clock_(clock),
      retrySeconds_(retrySeconds),
      waiting_(std::move(waiting)),
      stopping_(std::move(stopping)) {}

// The pause, in slices when a stop may come, so that it is answered at once; false when it came.
bool RetryingRunStore::pausedWithoutStop(std::uint32_t ms) {
    if (!stopping_) {
        clock_.sleepMs(ms);
        return true;
    }
    for (std::uint32_t slept = 0; slept < ms && !stopped();) {
        const std::uint32_t slice = std::min(ms - slept, kStopLookMs);
        clock_.sleepMs(slice);
        slept += slice;
    }
    return !stopped();
}

template <typename Work>
auto RetryingRunStore::retried(Work work) {
    const std::int64_t deadline = clock_.nowUs() + std::int64_t(std::llround(retrySeconds_ * 1e6));
    std::uint32_t pauseMs = kFirstPauseMs;
    bool waited = false;
    for (;;) {
        try {
            if (!store_) {
                store_ = OpenRunStore(location_, StoreAccess::Write,
                                      {[this] { return stopped(); }, kLockWaitMs});
            }
            auto result = work(*store_);
            if (waited && waiting_) waiting_("");
            return result;
        } catch (const StoreUnavailable& fault) {
            store_.reset();  // a connection that failed once is not trusted again
            if (stopped()) throw StoreWaitStopped(fault.what());
            const std::int64_t left = deadline - clock_.nowUs();
            if (left <= 0) {  // not back: the failure that follows is what is told
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", retrySeconds_);
                throw StoreUnavailable(std::string(fault.what()) + " (retried for " + seconds +
                                       " s)");
            }
            if (!waited && waiting_) waiting_(fault.what());
            waited = true;
            if (!pausedWithoutStop(
                    std::uint32_t(std::min<std::int64_t>(pauseMs, (left + 999) / 1000)))) {
                throw StoreWaitStopped(fault.what());
            }
            pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
        }
    }
}

void RetryingRunStore::open() {
    retried([](RunStore&) { return 0; });
}

std::string RetryingRunStore::serialFor(const std::string& dieId, const std::string& chipId,
                                        const SerialPlan& plan) {
    return retried([&](RunStore& store) { return store.serialFor(dieId, chipId, plan); });
}

void RetryingRunStore::checkSerials(const SerialPlan& plan) {
    retried([&](RunStore& store) {
        store.checkSerials(plan);
        return 0;
    });
}

std::optional<std::string> RetryingRunStore::passedSerial(const std::string& dieId) {
    return retried([&](RunStore& store) { return store.passedSerial(dieId); });
}

std::int64_t RetryingRunStore::beginRun(const RunRecord& run) {
    return retried([&](RunStore& store) { return store.beginRun(run); });
}

ClaimedRun RetryingRunStore::claimRun(const RunRecord& run, const std::string& since) {
    return retried([&](RunStore& store) { return store.claimRun(run, since); });
}

void RetryingRunStore::finishRun(const RunRecord& run) {
    retried([&](RunStore& store) {
        store.finishRun(run);
        return 0;
    });
}

void RetryingRunStore::recordRun(const RunRecord& run) {
    retried([&](RunStore& store) {
        store.recordRun(run);
        return 0;
    });
}

void RetryingRunStore::recordHook(std::int64_t runId, const std::string& hook,
                                  const std::string& status, const std::string& output) {
    retried([&](RunStore& store) {
        store.recordHook(runId, hook, status, output);
        return 0;
    });
}

std::vector<RunRecord> RetryingRunStore::history(const HistoryFilter& filter) {
    return retried([&](RunStore& store) { return store.history(filter); });
}

std::vector<double> RetryingRunStore::portSeries(const std::string& station,
                                                 const std::string& port, const std::string& name,
                                                 int count) {
    return retried([&](RunStore& store) { return store.portSeries(station, port, name, count); });
}
