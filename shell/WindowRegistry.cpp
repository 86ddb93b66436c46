#include "shell/WindowRegistry.h"

#include <array>

namespace {
std::array<NotificationReceiver*, kWindowIdCount> references{};
}

void WindowRegistry::set(WindowId id, NotificationReceiver* window) {
    references[std::size_t(id)] = window;
}

void WindowRegistry::clear(WindowId id, const NotificationReceiver* window) {
    auto& slot = references[std::size_t(id)];
    if (slot == window) slot = nullptr;
}

NotificationReceiver* WindowRegistry::get(WindowId id) {
    return references[std::size_t(id)];
}
