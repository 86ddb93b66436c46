#include "link/BoardProbe.h"

#include <thread>

#include "link/BoardLink.h"
#include "link/DirectObserver.h"

BoardProbe ProbeLink(BoardLink& link, DirectObserver& observer, const BoardLocation& location) {
    BoardProbe probe;
    probe.location = location;
    if (link.openNormal(observer)) {
        probe.mode = BoardProbe::Mode::Normal;
        probe.capacity = link.capacity();
        probe.ids = link.ids();
        return probe;
    }
    probe.statuses = observer.statuses;
    probe.errors = observer.errors;
    probe.interfaceDriver = link.interfaceDriver();
    link.open(K350Usb::BootConfiguration, observer);
    if (link.isOpen()) {
        probe.mode = BoardProbe::Mode::Boot;
        probe.statuses.clear();
        probe.errors.clear();
        link.close();
    }
    return probe;
}

BoardProbe ProbeBoard(const BoardLocation& location, Clock& clock) {
    BoardLink link(clock);
    link.setLocation(location);
    link.requireWholeIdentification();
    DirectObserver observer;
    const BoardProbe probe = ProbeLink(link, observer, location);
    link.close();
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
