#include "cli/station/Station.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "cli/station/StationSequence.h"
#include "cli/store/RetryingRunStore.h"
#include "link/PortPath.h"
#include "link/UsbScan.h"

namespace {

struct Port {
    BoardLocation location;
    std::thread worker;
    std::atomic<bool> ended{false};
    BoardOutcome outcome = BoardOutcome::Gone;
    bool waitingForUnplug = false;
};

void Count(StationCounts& counts, BoardOutcome outcome) {
    switch (outcome) {
        case BoardOutcome::Passed:
            ++counts.passed;
            break;
        case BoardOutcome::Failed:
            ++counts.failed;
            break;
        case BoardOutcome::Skipped:
            ++counts.skipped;
            break;
        default:
            break;
    }
}

// Every board on USB by its port; a board whose port cannot be told goes by its location.
std::map<std::string, BoardLocation> BoardsByPort() {
    std::map<std::string, BoardLocation> boards;
    for (const BoardLocation& location : ScanBoards()) {
        const std::string port = PortPathOf(location);
        boards.emplace(port.empty() ? location.text() : port, location);
    }
    return boards;
}

}  // namespace

Station::Station(const StationJob& job, Clock& clock, StationObserver observer)
    : job_(job), clock_(clock), observer_(std::move(observer)) {}

StationCounts Station::run(const std::function<bool()>& stop, int boardLimit,
                           std::uint32_t scanPeriodMs) {
    std::mutex reportMutex;  // the workers report one at a time
    const StationObserver observer = [&](const StationEvent& event) {
        std::lock_guard lock(reportMutex);
        if (observer_) observer_(event);
    };
    std::map<std::string, std::unique_ptr<Port>> ports;
    StationCounts counts;
    std::mutex endMutex;
    std::condition_variable endSignal;  // a worker ended
    const auto work = [&](Port& port, std::string name) {
        StationEvent last;  // the board's identity as far as it is known, for a store's wait
        const StationObserver portObserver = [&](const StationEvent& event) {
            last = event;
            observer(event);
        };
        try {
            RetryingRunStore store(job_.store, clock_, job_.storeRetrySeconds,
                                   [&](const std::string& fault) {
                                       observer({name, last.dieId, last.serial, StationStep::Store,
                                                 fault.empty() ? "done" : "waiting", 0, 0, fault});
                                   });
            port.outcome =
                StationSequence(job_, store, clock_, portObserver).run(port.location, name);
        } catch (const std::exception& error) {
            observer({name, last.dieId, last.serial, "board", "failed", 0, 0, error.what()});
            port.outcome = BoardOutcome::Failed;
        }
        std::lock_guard lock(endMutex);
        port.ended = true;
        endSignal.notify_all();
    };
    const auto inFlight = [&] {
        return int(std::count_if(ports.begin(), ports.end(), [](const auto& entry) {
            return entry.second->worker.joinable();
        }));
    };
    const auto join = [&](Port& port) {
        port.worker.join();
        Count(counts, port.outcome);
        // A port nothing answered at is tried again; any other waits for its board to go.
        port.waitingForUnplug = port.outcome != BoardOutcome::Gone;
    };
    const auto forgetIdlePorts = [&] {
        std::erase_if(ports, [](const auto& entry) {
            return !entry.second->worker.joinable() && !entry.second->waitingForUnplug;
        });
    };
    for (;;) {
        for (auto& [name, port] : ports) {
            if (port->worker.joinable() && port->ended) join(*port);
        }
        if (stop() || (boardLimit > 0 && counts.ended() >= boardLimit)) break;
        const auto boards = BoardsByPort();
        for (auto& [name, port] : ports) {
            const auto present = boards.find(name);
            if (present == boards.end() || present->second != port->location) {
                port->waitingForUnplug = false;  // unplugged, or another board there now
            }
        }
        forgetIdlePorts();
        for (const auto& [name, location] : boards) {
            if (ports.count(name)) continue;
            if (boardLimit > 0 && counts.ended() + inFlight() >= boardLimit) break;
            auto port = std::make_unique<Port>();
            port->location = location;
            Port& taken = *port;
            ports.emplace(name, std::move(port));
            taken.worker = std::thread(work, std::ref(taken), name);
        }
        if (boardLimit > 0 && counts.ended() + inFlight() >= boardLimit) {
            // Nothing more to take: wait for a board to end, not for the next scan.
            std::unique_lock lock(endMutex);
            endSignal.wait(lock, [&] {
                return std::any_of(ports.begin(), ports.end(), [](const auto& entry) {
                    return entry.second->worker.joinable() && entry.second->ended;
                });
            });
            continue;
        }
        clock_.sleepMs(scanPeriodMs);
    }
    for (auto& [name, port] : ports) {
        if (port->worker.joinable()) join(*port);
    }
    return counts;
}
