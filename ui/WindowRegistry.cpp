#include "ui/WindowRegistry.h"

#include <array>

namespace {
struct Reference {
    NotificationReceiver* window = nullptr;
    WindowGeneration generation = kAnyGeneration;
};
std::array<Reference, kWindowIdCount> references{};
WindowGeneration lastGeneration = kAnyGeneration;
}  // namespace

WindowGeneration WindowRegistry::Set(WindowId id, NotificationReceiver* window) {
    if (++lastGeneration == kAnyGeneration) ++lastGeneration;
    references[std::size_t(id)] = {window, lastGeneration};
    return lastGeneration;
}

void WindowRegistry::Clear(WindowId id, const NotificationReceiver* window) {
    auto& slot = references[std::size_t(id)];
    if (slot.window == window) slot = {};
}

NotificationReceiver* WindowRegistry::Get(WindowId id) {
    return references[std::size_t(id)].window;
}

NotificationReceiver* WindowRegistry::Get(WindowId id, WindowGeneration generation) {
    const auto& slot = references[std::size_t(id)];
    if (generation != kAnyGeneration && slot.generation != generation) return nullptr;
    return slot.window;
}
