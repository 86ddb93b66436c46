#include "link/BoardProbe.h"

#include <thread>

#include "link/K350Task.h"
#include "link/NotificationChannel.h"

namespace {

// Keeps what the worker tells the main window while it opens the board; no other window exists.
class ProbeChannel : public NotificationChannel {
public:
    using NotificationChannel::deliver;
    using NotificationChannel::requestClose;
    bool deliver(WindowId to, WindowGeneration, WorkerNotification notification) override {
        if (to != WindowId::FDevice) return false;
        if (notification.code == NotifyCode::Status) statuses.push_back(int(notification.value));
        if (notification.code == NotifyCode::Error) errors.push_back(int(notification.value));
        return true;
    }
    bool requestClose(WindowId, WindowGeneration) override { return false; }

    std::vector<int> statuses;
    std::vector<int> errors;
};

}  // namespace

BoardProbe ProbeBoard(const BoardLocation& location, Clock& clock) {
    ProbeChannel channel;
    TK350 worker(channel, clock);
    worker.setBoardLocation(location);
    BoardProbe probe;
    probe.location = location;
    worker.OpenLink(K350Usb::NormalConfiguration);
    worker.QueryLink();
    if (worker.isLinkOpen()) {
        probe.mode = BoardProbe::Mode::Normal;
        probe.capacity = worker.capacity();
        probe.ids = worker.deviceIds();
        worker.CloseLink();
        return probe;
    }
    probe.statuses = channel.statuses;
    probe.errors = channel.errors;
    worker.OpenLink(K350Usb::BootConfiguration);
    if (worker.isLinkOpen()) {
        probe.mode = BoardProbe::Mode::Boot;
        probe.statuses.clear();
        probe.errors.clear();
        worker.CloseLink();
    }
    return probe;
}

std::vector<BoardProbe> ProbeBoards(const std::vector<BoardLocation>& locations, Clock& clock) {
    std::vector<BoardProbe> probes(locations.size());
    if (locations.size() == 1) {
        probes[0] = ProbeBoard(locations[0], clock);
        return probes;
    }
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < locations.size(); ++i) {
        threads.emplace_back([&, i] { probes[i] = ProbeBoard(locations[i], clock); });
    }
    for (auto& thread : threads) thread.join();
    return probes;
}
