// HTTP as the serve tests speak it to a server on 127.0.0.1: a whole request and its answer, raw
// bytes for a malformed one, and a stream of Server-Sent Events read event by event.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

// A connection to the port on 127.0.0.1; -1 when nothing answers.
int ConnectLoopback(std::uint16_t port);
// A port nobody listens on now on 127.0.0.1, for a program that cannot be given port 0.
std::uint16_t FreeLoopbackPort();

struct HttpAnswer {
    int status = 0;                              // 0: no answer
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// Sends `request` as it is and reads until the server closes: the whole answer.
std::string RawExchange(std::uint16_t port, const std::string& request);
// A GET with Connection: close and the Host given (default the listen address).
HttpAnswer HttpGet(std::uint16_t port, const std::string& path, const std::string& host = {},
                   const std::map<std::string, std::string>& headers = {});
HttpAnswer ParseAnswer(const std::string& text);

struct StreamEvent {
    std::string id, name, data;
};

class EventStream {
public:
    // Opens /events; `lastEventId` as a browser sends it when it comes back.
    explicit EventStream(std::uint16_t port, const std::string& lastEventId = {});
    ~EventStream();
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // The next event (comments skipped), or none once `limit` passed or the stream ended.
    std::optional<StreamEvent> next(std::chrono::milliseconds limit = std::chrono::seconds(60));
    // The next event named `name` whose data holds `text`.
    std::optional<StreamEvent> nextWith(const std::string& name, const std::string& text,
                                        std::chrono::milliseconds limit = std::chrono::seconds(60));
    bool ended() const { return ended_; }
    int status() const { return status_; }

private:
    int socket_ = -1;
    std::string buffer_;
    bool ended_ = false;
    int status_ = 0;
};
