// The run store as a station uses it through a line's bad day: a fault that may pass (a server
// restarted or failed over, a connection refused, an SQLite file locked or its disk full) is met
// by opening the store again and retrying the statement, with growing pauses, for a bounded
// time. Every statement of RunStore may be retried: a serial is the board's own, a run's start
// and end are recorded by its key.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "config/Clock.h"
#include "store/RunStore.h"

class RetryingRunStore : public RunStore {
public:
    // Called with the fault when the store goes away, and with "" when it is back.
    using Waiting = std::function<void(const std::string& fault)>;
    // Looked at during a wait: once it says the operator stops now, the wait ends at once and the
    // statement fails with StoreWaitStopped.
    using Stopping = std::function<bool()>;

    RetryingRunStore(std::string location, Clock& clock, double retrySeconds, Waiting waiting = {},
                     Stopping stopping = {});

    std::string serialFor(const std::string& dieId, const std::string& chipId,
                          const SerialPlan& plan) override;
    void checkSerials(const SerialPlan& plan) override;
    std::optional<std::string> passedSerial(const std::string& dieId) override;
    std::int64_t beginRun(const RunRecord& run) override;
    ClaimedRun claimRun(const RunRecord& run, const std::string& since) override;
    void finishRun(const RunRecord& run) override;
    void recordRun(const RunRecord& run) override;
    void recordHook(std::int64_t runId, const std::string& hook, const std::string& status,
                    const std::string& output) override;
    std::vector<RunRecord> history(const HistoryFilter& filter) override;
    std::string openingNotice() const override {
        return store_ ? store_->openingNotice() : std::string();
    }
    std::vector<double> portSeries(const std::string& station, const std::string& port,
                                   const std::string& name, int count) override;
    // Opens the store now (creating or upgrading it), retrying as a statement is.
    void open();

    static constexpr std::uint32_t kFirstPauseMs = 250, kLongestPauseMs = 5000;
    // How long a stop may go unanswered during a pause.
    static constexpr std::uint32_t kStopLookMs = 50;
    // How long another writer of an SQLite store may hold its lock (in real time) before the store
    // is taken as away: longer than any station's transaction, well within the stop's second.
    static constexpr std::uint32_t kLockWaitMs = 500;

private:
    template <typename Work>
    auto retried(Work work);
    bool pausedWithoutStop(std::uint32_t ms);
    bool stopped() const { return stopping_ && stopping_(); }

    std::string location_;
    Clock& clock_;
    double retrySeconds_;
    Waiting waiting_;
    Stopping stopping_;
    std::unique_ptr<RunStore> store_;  // none while the store is away
};
