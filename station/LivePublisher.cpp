#include "station/LivePublisher.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Moment = std::chrono::steady_clock::time_point;
using std::chrono::milliseconds;

Moment Now() {
    return std::chrono::steady_clock::now();
}

struct PortSlot {
    PortLive row;
    bool dirty = false;
    bool urgent = false;  // a step, not only progress: written at once
    Moment written{};
};

}  // namespace

struct LivePublisher::Shared {
    std::string location;
    LivePace pace;
    std::mutex sourceMutex;  // held while journalRuns is asked; cleared at the end
    std::function<std::optional<int>()> journalRuns;

    std::mutex mutex;
    std::condition_variable changed;
    BenchLive bench;
    bool benchDirty = true;
    Moment benchWritten{};
    std::map<std::string, PortSlot> ports;
    bool stopping = false;
    Moment retryAt{};
    std::unique_ptr<SqlConnection> db;  // the thread's alone

    void apply(const StationEvent& event);
    void run(std::promise<void> ended);
    bool due(Moment now) const;
    Moment nextDue() const;
    void write(const std::optional<BenchLive>& benchRow, const std::vector<PortLive>& rows);
};

void LivePublisher::Shared::apply(const StationEvent& event) {
    if (event.step == "station") {
        if (event.state == "stopping") bench.state = BenchState::Stopping;
        benchDirty = true;
        return;
    }
    if (event.port.empty() || event.step == "hook") return;
    auto [at, added] = ports.try_emplace(event.port);
    PortSlot& slot = at->second;
    PortLive& row = slot.row;
    if (added) {
        row.bench = bench.name;
        row.port = event.port;
        bench.ports.push_back(event.port);
        benchDirty = true;
    }
    const std::string now = UtcNow();
    if (!event.dieId.empty() && event.dieId != row.dieId) {
        row.dieId = event.dieId;
        row.serial.clear();
    }
    if (!event.serial.empty()) row.serial = event.serial;
    const bool progress = event.state == "progress";
    if (event.step != row.step || event.state == "started") {
        row.stepSince = now;
        slot.urgent = true;
    }
    if (!progress) slot.urgent = true;
    row.step = event.step;
    row.state = event.state;
    row.done = event.done;
    row.total = event.total;
    row.updatedAt = now;
    if (event.step == "board") {
        row.lastResult = event.state;
        row.lastError = event.error;
        row.lastEndedAt = now;
    }
    slot.dirty = true;
}

bool LivePublisher::Shared::due(Moment now) const {
    if (stopping) return true;
    if (now < retryAt) return false;
    if (benchDirty || now >= benchWritten + milliseconds(pace.heartbeatMs)) return true;
    for (const auto& [name, slot] : ports) {
        if (slot.dirty && (slot.urgent || now >= slot.written + milliseconds(pace.progressMs))) {
            return true;
        }
    }
    return false;
}

Moment LivePublisher::Shared::nextDue() const {
    Moment next = benchWritten + milliseconds(pace.heartbeatMs);
    for (const auto& [name, slot] : ports) {
        if (slot.dirty) next = std::min(next, slot.written + milliseconds(pace.progressMs));
    }
    return std::max(next, retryAt);
}

void LivePublisher::Shared::write(const std::optional<BenchLive>& benchRow,
                                  const std::vector<PortLive>& rows) {
    if (!db) db = OpenLiveConnection(location, StoreAccess::Write);
    LiveState live(*db);
    if (benchRow) live.writeBench(*benchRow);
    for (const PortLive& row : rows) live.writePort(row);
}

void LivePublisher::Shared::run(std::promise<void> ended) {
    std::unique_lock lock(mutex);
    for (bool last = false; !last;) {
        changed.wait_until(lock, nextDue(), [&] { return due(Now()); });
        if (!due(Now())) continue;
        last = stopping;
        const Moment now = Now();
        std::optional<BenchLive> benchRow;
        if (last || benchDirty || now >= benchWritten + milliseconds(pace.heartbeatMs)) {
            if (last) bench.state = BenchState::Stopped;
            bench.heartbeatAt = UtcNow();
            if (!last) {
                lock.unlock();
                std::optional<int> kept;
                {
                    std::lock_guard source(sourceMutex);
                    if (journalRuns) kept = journalRuns();
                }
                lock.lock();
                bench.journalRuns = kept;
            }
            benchRow = bench;
            benchDirty = false;
        }
        std::vector<PortLive> rows;
        for (auto& [name, slot] : ports) {
            if (!slot.dirty ||
                !(last || slot.urgent || now >= slot.written + milliseconds(pace.progressMs))) {
                continue;
            }
            rows.push_back(slot.row);
            slot.dirty = slot.urgent = false;
        }
        lock.unlock();
        bool failed = false;
        try {
            write(benchRow, rows);
        } catch (const std::exception&) {
            db.reset();  // a connection that failed once is not trusted again
            failed = true;
        }
        lock.lock();
        if (failed) {
            // What was not written is written with the next try, newest first.
            retryAt = Now() + milliseconds(pace.retryMs);
            if (benchRow) benchDirty = true;
            for (const PortLive& row : rows) ports[row.port].dirty = ports[row.port].urgent = true;
            continue;
        }
        if (benchRow) benchWritten = now;
        for (const PortLive& row : rows) ports[row.port].written = now;
    }
    ended.set_value();
}

LivePublisher::LivePublisher(std::string location, BenchLive bench,
                             std::function<std::optional<int>()> journalRuns, LivePace pace)
    : shared_(std::make_shared<Shared>()) {
    shared_->location = std::move(location);
    shared_->pace = pace;
    shared_->journalRuns = std::move(journalRuns);
    shared_->bench = std::move(bench);
    if (shared_->bench.startedAt.empty()) shared_->bench.startedAt = UtcNow();
    std::promise<void> ended;
    auto future = ended.get_future();
    std::thread([shared = shared_, ended = std::move(ended)]() mutable {
        shared->run(std::move(ended));
    }).detach();
    ended_ = std::move(future);
}

LivePublisher::~LivePublisher() {
    {
        std::lock_guard source(shared_->sourceMutex);
        shared_->journalRuns = nullptr;
    }
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->changed.notify_all();
    // A store that does not answer keeps the thread a little longer; it holds what it needs.
    ended_.wait_for(milliseconds(shared_->pace.stopWaitMs));
}

void LivePublisher::record(const StationEvent& event) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->apply(event);
    }
    shared_->changed.notify_all();
}

BenchLive LivePublisher::BenchOf(const StationJob& job) {
    BenchLive bench;
    bench.name = job.station;
    bench.host = job.host;
    bench.version = K350_VERSION;
    bench.recipe = job.recipe;
    return bench;
}
