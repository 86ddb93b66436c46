// The line live, followed: a thread of its own reads the store's live rows as they change
// (LiveWatch), the day's figures from the report now and then and after a board ended, and sends
// every change to the pages (EventHub). A store that goes away is tried again until it is back;
// meanwhile the pages show since when it is unreachable, and once back they get what changed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "serve/EventHub.h"
#include "serve/LiveLine.h"
#include "store/LiveWatch.h"

struct FeedPace {
    int waitMs = 1000;                // the longest wait for news before the rows are read anyway
    int retryMs = 1000;               // between two tries of a store that is away
    int figuresMs = 60'000;           // the day's figures, read again
    int figuresAfterBoardMs = 2'000;  // the least time between two reads after a board ended
    int keepAliveMs = 15'000;         // a comment to every page, so a dead one is found
    int streamSeconds = 300;          // how long one stream lasts before its page comes back
};

class LiveFeed {
public:
    using Log = std::function<void(const std::string&)>;
    // Reads the store once before it returns; throws StoreError when the store is not a k350
    // store (an unreachable one is only shown as such, and tried again).
    LiveFeed(std::string location, EventHub& hub, Log log, FeedPace pace = {});
    ~LiveFeed();
    LiveFeed(const LiveFeed&) = delete;
    LiveFeed& operator=(const LiveFeed&) = delete;

    // A page's stream: what changed after `after` (everything without it), the banner and the
    // figures, then every event as it comes.
    void subscribe(const std::shared_ptr<EventClient>& client, std::optional<std::int64_t> after);
    nlohmann::ordered_json json();
    // The line as it is now, for the metrics.
    LiveLine snapshot();

private:
    void run();
    bool connect();
    void readChanges();
    void refreshFigures();
    void lost(const std::string& fault);
    void publish(const LiveEvent& event);
    void pause(int ms);

    std::string location_;
    EventHub& hub_;
    Log log_;
    FeedPace pace_;
    std::mutex mutex_;  // the line and the order of its events
    LiveLine line_;
    std::int64_t cursor_ = 0;
    std::unique_ptr<LiveWatch> watch_;  // the thread's alone
    std::chrono::steady_clock::time_point figuresRead_{};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stop_ = false;
    std::thread thread_;
};
