// The HTTP server the pages, the API and the metrics are served by: libmicrohttpd's, with its own
// threads. Only GET and HEAD are answered; a request with a body, one too large or malformed is
// refused by the server before any handler sees it. A handler's reply is a whole body, or a
// stream of events (EventClient) that is sent as it fills.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "serve/EventClient.h"
#include "serve/ListenAddress.h"

struct HttpRequest {
    std::string method, path;
    std::map<std::string, std::string> query;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string header(const std::string& lowerName) const;
};

struct HttpReply {
    int status = 200;
    std::string type = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers{};
    // Set: the body is this stream of events, until it is dropped or the page goes.
    std::shared_ptr<EventClient> stream{};
    // Called once the stream's connection has ended.
    std::function<void()> streamEnded{};
};

struct HttpLimits {
    std::size_t requestBytes = 16 * 1024;  // request line and headers together
    unsigned connections = 1000;
    unsigned idleSeconds = 60;  // a connection that moves nothing for this long is closed
    unsigned threads = 2;
};

class HttpServer {
public:
    using Handler = std::function<HttpReply(const HttpRequest&)>;
    using Log = std::function<void(const std::string&)>;
    // Listens at once; throws std::runtime_error when it cannot.
    HttpServer(const ListenAddress& address, HttpLimits limits, Handler handler, Log log);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return port_; }  // the one bound, for a port 0 given

    // For libmicrohttpd's callbacks.
    struct Callbacks;

private:
    Handler handler_;
    Log log_;
    struct MHD_Daemon* daemon_ = nullptr;
    std::uint16_t port_ = 0;
};
