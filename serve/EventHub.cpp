#include "serve/EventHub.h"

#include <vector>

void EventHub::add(const std::shared_ptr<EventClient>& client, Moment until) {
    std::lock_guard lock(mutex_);
    clients_.emplace(client, until);
}

void EventHub::finishExpired(Moment now) {
    std::lock_guard lock(mutex_);
    for (auto at = clients_.begin(); at != clients_.end();) {
        if (at->second > now) {
            ++at;
            continue;
        }
        at->first->finish();
        at = clients_.erase(at);
    }
}

void EventHub::remove(const std::shared_ptr<EventClient>& client) {
    std::lock_guard lock(mutex_);
    clients_.erase(client);
}

void EventHub::broadcast(const std::string& text) {
    std::vector<std::shared_ptr<EventClient>> behind;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [client, until] : clients_) {
            if (!client->send(text)) behind.push_back(client);
        }
        for (const auto& client : behind) clients_.erase(client);
        dropped_ += behind.size();
    }
    if (!behind.empty() && log_) {
        log_(std::to_string(behind.size()) +
             " page(s) that did not read their events were dropped");
    }
}

void EventHub::closeAll() {
    std::map<std::shared_ptr<EventClient>, Moment> clients;
    {
        std::lock_guard lock(mutex_);
        clients.swap(clients_);
    }
    for (const auto& [client, until] : clients) client->drop();
}

std::size_t EventHub::clients() const {
    std::lock_guard lock(mutex_);
    return clients_.size();
}

std::size_t EventHub::droppedSoFar() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}
