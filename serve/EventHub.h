// Every page's stream: an event goes to each, and a page that fell behind is dropped without
// holding up the others.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "serve/EventClient.h"

class EventHub {
public:
    using Log = std::function<void(const std::string&)>;
    explicit EventHub(Log log) : log_(std::move(log)) {}

    using Moment = std::chrono::steady_clock::time_point;
    // A stream ends at `until`, after what waits for it: its page comes back with the last event
    // it saw, so no proxy or idle timeout between them ends it unseen.
    void add(const std::shared_ptr<EventClient>& client, Moment until);
    void finishExpired(Moment now);
    void remove(const std::shared_ptr<EventClient>& client);
    void broadcast(const std::string& text);
    // Ends every stream, for the server's stop.
    void closeAll();
    std::size_t clients() const;
    std::size_t droppedSoFar() const;

private:
    Log log_;
    mutable std::mutex mutex_;
    std::map<std::shared_ptr<EventClient>, Moment> clients_;
    std::size_t dropped_ = 0;
};
