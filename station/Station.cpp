#include "station/Station.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "link/PortPath.h"
#include "link/UsbScan.h"
#include "station/BoardHook.h"
#include "station/BoardsInProgress.h"
#include "station/LivePublisher.h"
#include "station/ServiceNotify.h"
#include "station/StationRecipe.h"
#include "station/StationSequence.h"
#include "store/RetryingRunStore.h"
#include "store/RunJournal.h"

namespace {

// A board under way elsewhere is looked at again after this long, not at every scan.
constexpr std::int64_t kElsewhereRetryUs = 5'000'000;
// The longest the station waits for a worker before it looks at a stop request again.
constexpr std::uint32_t kStopPollMs = 50;
constexpr auto kStopPoll = std::chrono::milliseconds(kStopPollMs);

struct Port {
    BoardLocation location;
    std::thread worker;
    std::atomic<bool> ended{false};
    std::atomic<bool> cut{false};
    std::atomic<bool> atHook{false};  // its board ended, its hook runs
    BoardOutcome outcome = BoardOutcome::Gone;
    bool waitingForUnplug = false;
    bool wentAway = false;  // unplugged (or replaced) since its worker started
    std::int64_t retryAtUs = 0;
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
        case BoardOutcome::Unusable:
            ++counts.unusable;
            break;
        case BoardOutcome::Interrupted:
            ++counts.interrupted;
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

// The runs the journal keeps for the store, for the live state; none when it cannot tell.
std::optional<int> JournalRuns(const StationJob& job) {
    if (!job.journal) return std::nullopt;
    try {
        return job.journal->pending(job.store);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// A board that got its image through the boot loader and did not come back in normal mode
// before the station stopped: its run is the download alone, without an identity.
void RecordUnreturnedBoots(const StationJob& job, Clock& clock, BoardsInProgress& boards,
                           const StationObserver& observer,
                           const RetryingRunStore::Stopping& stopping, StationCounts& counts) {
    const std::vector<BootDownload> boots = boards.unclaimedBoots();
    if (boots.empty()) return;
    const std::string why =
        "the station stopped before the board came back in normal mode after its boot-loader "
        "download; plug it in again";
    RetryingRunStore store(job.store, clock, job.storeRetrySeconds, {}, stopping);
    for (const BootDownload& boot : boots) {
        RunRecord run;
        run.key = NewRunKey(job.station);
        run.station = job.station;
        run.port = boot.port;
        run.recipe = job.recipe;
        SetRunOrigin(run, job);
        run.imageSha256 = job.imageSha256;
        run.startedAt = boot.started;
        run.finishedAt = UtcNow();
        run.steps = nlohmann::ordered_json::array({{{"step", StationStep::Boot},
                                                    {"started", boot.started},
                                                    {"finished", boot.finished},
                                                    {"ok", true}}})
                        .dump();
        run.result = RunResult::Interrupted;
        run.failedStep = StationStep::Identify;
        run.error = why;
        StationEvent ended{boot.port, {}, {}, "board", "interrupted", 0, 0, why};
        try {
            store.recordRun(run);
        } catch (const StoreError& fault) {
            bool kept = false;
            ended.error += "; " + std::string(fault.what()) + "; " + KeepInJournal(job, run, &kept);
            ended.runOutsideStore = kept ? "journal" : "lost";
        }
        observer(ended);
        ++counts.interrupted;
    }
}

// The station's state as its service manager shows it (systemctl status).
std::string ServiceStatus(bool finishing, int underWay, const StationCounts& counts) {
    return std::string(finishing ? "stopping: " : "watching the ports: ") +
           std::to_string(underWay) + " board(s) under way; " + std::to_string(counts.passed) +
           " passed, " + std::to_string(counts.failed) + " failed, " +
           std::to_string(counts.skipped) + " skipped, " + std::to_string(counts.unusable) +
           " unusable, " + std::to_string(counts.interrupted) + " interrupted";
}

}  // namespace

Station::Station(const StationJob& job, Clock& clock, StationObserver observer)
    : job_(job), clock_(clock), observer_(std::move(observer)) {}

StationCounts Station::run(const std::function<StationStop()>& stop, int boardLimit,
                           std::uint32_t scanPeriodMs) {
    std::mutex reportMutex;  // the workers report one at a time
    LivePublisher live(job_.store, LivePublisher::BenchOf(job_),
                       [this] { return JournalRuns(job_); });
    const StationObserver observer = [&](const StationEvent& event) {
        std::lock_guard lock(reportMutex);
        live.record(event);
        if (observer_) observer_(event);
    };
    std::map<std::string, std::unique_ptr<Port>> ports;
    BoardsInProgress boards;
    StationCounts counts;
    std::mutex endMutex;
    std::condition_variable endSignal;  // a worker ended
    const auto work = [&](Port& port, std::string name) {
        StationEvent last;  // the board's identity as far as it is known, for a store's wait
        const StationObserver portObserver = [&](const StationEvent& event) {
            last = event;
            if (event.step == "board" && !HookFor(job_.hooks, event.state).empty()) {
                port.atHook = true;
            }
            observer(event);
        };
        try {
            RetryingRunStore store(
                job_.store, clock_, job_.storeRetrySeconds,
                [&](const std::string& fault) {
                    observer({name, last.dieId, last.serial, StationStep::Store,
                              fault.empty() ? "done" : "waiting", 0, 0, fault});
                },
                [&port] { return port.cut.load(); });
            port.outcome = StationSequence(job_, store, clock_, portObserver, boards, port.cut)
                               .run(port.location, name);
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
    const auto atHooks = [&] {
        return int(std::count_if(ports.begin(), ports.end(), [](const auto& entry) {
            return entry.second->worker.joinable() && entry.second->atHook;
        }));
    };
    const auto join = [&](Port& port) {
        port.worker.join();
        Count(counts, port.outcome);
        // A port nothing answered at is tried again, a board under way elsewhere a little later;
        // any other waits for its board to go, unless it went while its worker was ending.
        port.waitingForUnplug = port.outcome != BoardOutcome::Gone &&
                                port.outcome != BoardOutcome::Elsewhere && !port.wentAway;
        port.retryAtUs =
            port.outcome == BoardOutcome::Elsewhere ? clock_.nowUs() + kElsewhereRetryUs : 0;
    };
    const auto joinEnded = [&] {
        for (auto& [name, port] : ports) {
            if (port->worker.joinable() && port->ended) join(*port);
        }
    };
    const auto forgetIdlePorts = [&] {
        std::erase_if(ports, [&](const auto& entry) {
            const Port& port = *entry.second;
            return !port.worker.joinable() && !port.waitingForUnplug &&
                   clock_.nowUs() >= port.retryAtUs;
        });
    };
    bool finishing = false, cutting = false, lostTold = false;
    // A run neither the store nor the journal took: no board is taken after it, since its run
    // could be lost as well.
    const auto runLost = [&] {
        if (!job_.journal || job_.journal->lostHere() == 0) return false;
        if (!lostTold) {
            lostTold = true;
            observer({{},
                      {},
                      {},
                      "station",
                      "unrecorded",
                      std::uint32_t(inFlight()),
                      0,
                      kUnrecordedText});
        }
        return true;
    };
    // Its heartbeat comes from this loop alone, so a loop that hangs is seen as hung.
    ServiceNotify service;
    const auto alive = [&] {
        service.alive(ServiceStatus(finishing, inFlight(), counts), clock_.nowUs());
    };
    const auto stopAsked = [&] {
        const StationStop asked = stop ? stop() : StationStop::None;
        if (asked == StationStop::None) return runLost();
        if (!finishing) {
            finishing = true;
            StationEvent stopping;
            stopping.step = "station";
            stopping.state = "stopping";
            stopping.done = std::uint32_t(inFlight());
            stopping.total = std::uint32_t(atHooks());
            observer(stopping);
            service.stopping(ServiceStatus(finishing, inFlight(), counts));
        }
        if (asked == StationStop::Now && !cutting) {
            cutting = true;
            for (auto& [name, port] : ports) port->cut = true;
            KillRunningHooks();  // a hook is no board: nothing of it is left to finish
        }
        return true;
    };
    service.ready(ServiceStatus(finishing, 0, counts));
    for (;;) {
        joinEnded();
        alive();
        if (stopAsked() || (boardLimit > 0 && counts.ended() >= boardLimit)) break;
        const auto present = BoardsByPort();
        std::set<std::string> presentPorts;
        for (const auto& entry : present) presentPorts.insert(entry.first);
        boards.setPresentPorts(presentPorts);
        for (auto& [name, port] : ports) {
            const auto board = present.find(name);
            if (board == present.end() || board->second != port->location) {
                port->waitingForUnplug = false;  // unplugged, or another board there now
                port->wentAway = true;
            }
        }
        forgetIdlePorts();
        for (const auto& [name, location] : present) {
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
            endSignal.wait_for(lock, kStopPoll, [&] {
                return std::any_of(ports.begin(), ports.end(), [](const auto& entry) {
                    return entry.second->worker.joinable() && entry.second->ended;
                });
            });
            continue;
        }
        // The scan period in slices, so that a stop is answered at once; the scan's own look
        // at it follows the last slice.
        for (std::uint32_t slept = 0; slept < scanPeriodMs;) {
            const std::uint32_t slice = std::min<std::uint32_t>(scanPeriodMs - slept, kStopPollMs);
            clock_.sleepMs(slice);
            slept += slice;
            if (slept < scanPeriodMs && stopAsked()) break;
        }
    }
    // The boards under way finish, or, asked to stop now, end their steps at once.
    while (inFlight() > 0) {
        joinEnded();
        alive();
        stopAsked();
        std::unique_lock lock(endMutex);
        endSignal.wait_for(lock, kStopPoll, [&] {
            return std::any_of(ports.begin(), ports.end(), [](const auto& entry) {
                return entry.second->worker.joinable() && entry.second->ended;
            });
        });
    }
    // Asked to stop now, the store is not waited for: what it does not take goes to the journal.
    RecordUnreturnedBoots(
        job_, clock_, boards, observer, [&] { return stopAsked() && cutting; }, counts);
    return counts;
}
