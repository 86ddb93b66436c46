// One page's stream of events: what waits to be sent to it, up to a limit. A page that does not
// read (a stalled browser, a client that never reads) falls behind and is dropped at the limit,
// so it holds neither memory nor anyone else. The server gives it the means to wake its
// connection when there is something to send and to cut it when it is dropped.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

class EventClient {
public:
    explicit EventClient(std::size_t limitBytes) : limitBytes_(limitBytes) {}

    // Queues the text; false when the page fell behind by more than the limit and is dropped.
    bool send(const std::string& text);
    // Moves up to `max` waiting bytes into `buffer`: their number; 0 when nothing waits, after
    // `idle` was called (the connection waits until send wakes it); kEnded once it is finished
    // and all was taken; kDropped once dropped or closed.
    long take(char* buffer, std::size_t max, const std::function<void()>& idle);
    static constexpr long kEnded = -1, kDropped = -2;
    // Ends the stream once what waits is sent: the page comes back for what follows.
    void finish();
    // How the server wakes the idle connection, and cuts the connection of a dropped page.
    void attach(std::function<void()> wake, std::function<void()> cut);
    // Ends the stream: the connection is cut, and woken to end when idle.
    void drop();
    // The connection has ended: nothing more is sent.
    void close();
    bool dropped() const;

private:
    void dropLocked();

    const std::size_t limitBytes_;
    mutable std::mutex mutex_;
    std::string waiting_;
    std::size_t sent_ = 0;  // of waiting_, already taken
    bool idle_ = false;
    bool dropped_ = false, closed_ = false, finished_ = false;
    std::function<void()> wake_, cut_;
};
