// Every page's stream: an event goes to each, and a page that fell behind is dropped without
// holding up the others.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "serve/EventClient.h"

class EventHub {
public:
    using Log = std::function<void(const std::string&)>;
    explicit EventHub(Log log) : log_(std::move(log)) {}

    void add(const std::shared_ptr<EventClient>& client);
    void remove(const std::shared_ptr<EventClient>& client);
    void broadcast(const std::string& text);
    // Ends every stream, for the server's stop.
    void closeAll();
    std::size_t clients() const;
    std::size_t droppedSoFar() const;

private:
    Log log_;
    mutable std::mutex mutex_;
    std::set<std::shared_ptr<EventClient>> clients_;
    std::size_t dropped_ = 0;
};
