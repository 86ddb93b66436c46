// `serve`: the line live, the report and the metrics over HTTP, read from the store. It only
// reads: it opens the store as `report` does and works with a role that may only SELECT. It
// shows no secret: the store is named as StoreText masks it, in its messages and pages alike.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serve/EventHub.h"
#include "serve/HostCheck.h"
#include "serve/HttpServer.h"
#include "serve/LiveFeed.h"
#include "serve/Metrics.h"

struct ServeSettings {
    std::string store;
    ListenAddress listen;
    std::vector<std::string> allowHosts;  // further names the Host header may give
    HttpLimits limits{};
    std::size_t streamLimitBytes = 1 << 20;  // what may wait for a page before it is dropped
    FeedPace pace{};
};

class LineServer {
public:
    using Log = std::function<void(const std::string&)>;
    // Serving when it returns. Throws StoreError when the store is none to read (not a k350
    // store, a missing file), std::runtime_error when it cannot listen.
    LineServer(const ServeSettings& settings, Log log);
    ~LineServer();

    std::uint16_t port() const { return http_->port(); }
    std::size_t streams() const { return hub_.clients(); }

    HttpReply handle(const HttpRequest& request);

private:
    HttpReply page();
    HttpReply events(const HttpRequest& request);
    HttpReply report(const HttpRequest& request, bool json);
    HttpReply metrics();

    ServeSettings settings_;
    Log log_;
    HostCheck hosts_;
    EventHub hub_;
    std::unique_ptr<LiveFeed> feed_;
    Metrics metrics_;
    std::unique_ptr<HttpServer> http_;
};
