#include "station/BoardsInProgress.h"

#include <algorithm>
#include <utility>

std::optional<std::string> BoardsInProgress::take(const std::string& dieId,
                                                  const std::string& port) {
    std::lock_guard lock(mutex_);
    const auto [entry, taken] = ports_.emplace(dieId, port);
    if (taken || entry->second == port) return std::nullopt;
    return entry->second;
}

void BoardsInProgress::release(const std::string& dieId) {
    std::lock_guard lock(mutex_);
    ports_.erase(dieId);
}

void BoardsInProgress::bootLoaded(const BootDownload& download) {
    std::lock_guard lock(mutex_);
    boots_.push_back(download);
}

void BoardsInProgress::setPresentPorts(std::set<std::string> ports) {
    std::lock_guard lock(mutex_);
    present_ = std::move(ports);
}

std::optional<BootDownload> BoardsInProgress::cameBack(const std::string& port) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(boots_.begin(), boots_.end(),
                              [&](const BootDownload& boot) { return boot.port == port; });
    if (found == boots_.end()) {
        found = std::find_if(boots_.begin(), boots_.end(),
                             [&](const BootDownload& boot) { return !present_.count(boot.port); });
    }
    if (found == boots_.end()) return std::nullopt;
    const BootDownload boot = *found;
    boots_.erase(found);
    return boot;
}

std::vector<BootDownload> BoardsInProgress::unclaimedBoots() {
    std::lock_guard lock(mutex_);
    return std::exchange(boots_, {});
}
