#include "serve/LiveFeed.h"

#include <ctime>

#include "report/LineReportRead.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Tells the page how long to wait before it comes back after a lost stream.
constexpr const char* kRetryText = "retry: 2000\n\n";

}  // namespace

LiveFeed::LiveFeed(std::string location, EventHub& hub, Log log, FeedPace pace)
    : location_(std::move(location)), hub_(hub), log_(std::move(log)), pace_(pace) {
    try {
        watch_ = std::make_unique<LiveWatch>(location_);
        readChanges();
        refreshFigures();
    } catch (const StoreUnavailable& fault) {
        lost(fault.what());
    }
    thread_ = std::thread([this] { run(); });
}

LiveFeed::~LiveFeed() {
    {
        std::lock_guard lock(stopMutex_);
        stop_ = true;
    }
    stopSignal_.notify_all();
    thread_.join();
}

void LiveFeed::pause(int ms) {
    std::unique_lock lock(stopMutex_);
    stopSignal_.wait_for(lock, milliseconds(ms), [&] { return stop_; });
}

void LiveFeed::publish(const LiveEvent& event) {
    hub_.broadcast(EventText(event));
}

void LiveFeed::lost(const std::string& fault) {
    watch_.reset();
    std::lock_guard lock(mutex_);
    if (line_.unreachableSince()) return;
    publish(line_.setUnreachable(UtcNow()));
    if (log_) log_("the store is unreachable: " + fault);
}

bool LiveFeed::connect() {
    try {
        watch_ = std::make_unique<LiveWatch>(location_);
        {
            std::lock_guard lock(mutex_);
            if (line_.unreachableSince()) {
                publish(line_.setUnreachable(std::nullopt));
                if (log_) log_("the store is back");
            }
        }
        // Everything again: what changed while it was away, and a store put back from a backup.
        cursor_ = 0;
        readChanges();
        refreshFigures();
    } catch (const StoreError& fault) {
        lost(fault.what());
        return false;
    }
    return true;
}

void LiveFeed::readChanges() {
    const LiveChanges changes = watch_->changedAfter(cursor_);
    std::lock_guard lock(mutex_);
    for (const LiveEvent& event : line_.take(changes)) publish(event);
    cursor_ = changes.last;
}

void LiveFeed::refreshFigures() {
    const auto period = ParseReportPeriod("", "", std::time(nullptr));
    const LineReport today = ReadLineReportAt(location_, *period, {}, AlertRule{});
    figuresRead_ = Clock::now();
    std::lock_guard lock(mutex_);
    publish(line_.setFigures(today));
}

void LiveFeed::run() {
    auto keepAlive = Clock::now() + milliseconds(pace_.keepAliveMs);
    for (;;) {
        {
            std::lock_guard lock(stopMutex_);
            if (stop_) return;
        }
        hub_.finishExpired(Clock::now());
        if (Clock::now() >= keepAlive) {
            hub_.broadcast(": keep-alive\n\n");
            keepAlive = Clock::now() + milliseconds(pace_.keepAliveMs);
        }
        if (!watch_ && !connect()) {
            pause(pace_.retryMs);
            continue;
        }
        try {
            // Read after news, and after a quiet while all the same: a notification sent while
            // the connection was being made again is not heard.
            watch_->waitForNews(pace_.waitMs);
            readChanges();
            bool boardEnded = false;
            {
                std::lock_guard lock(mutex_);
                boardEnded = line_.boardEndedSinceFigures();
            }
            const auto now = Clock::now();
            if (now >= figuresRead_ + milliseconds(pace_.figuresMs) ||
                (boardEnded && now >= figuresRead_ + milliseconds(pace_.figuresAfterBoardMs))) {
                refreshFigures();
            }
        } catch (const StoreError& fault) {
            lost(fault.what());
        }
    }
}

void LiveFeed::subscribe(const std::shared_ptr<EventClient>& client,
                         std::optional<std::int64_t> after) {
    std::lock_guard lock(mutex_);
    std::string text = kRetryText;
    for (const LiveEvent& event : line_.eventsAfter(after.value_or(0))) text += EventText(event);
    for (const LiveEvent& event : line_.extras()) text += EventText(event);
    client->send(text);
    hub_.add(client, Clock::now() + std::chrono::seconds(pace_.streamSeconds));
}

nlohmann::ordered_json LiveFeed::json() {
    std::lock_guard lock(mutex_);
    return line_.json(UtcNow());
}

LiveLine LiveFeed::snapshot() {
    std::lock_guard lock(mutex_);
    return line_;
}
