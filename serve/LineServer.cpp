#include "serve/LineServer.h"

#include <ctime>

#include "report/LineReportRead.h"
#include "report/TimeBound.h"
#include "serve/LivePage.h"
#include "store/StoreText.h"

namespace {

// The pages need nothing from anywhere else and are shown in no other site's frame.
const std::vector<std::pair<std::string, std::string>> kPageHeaders = {
    {"Content-Security-Policy",
     "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
     "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'self'; "
     "frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

HttpReply Text(int status, const std::string& text) {
    return {status, "text/plain; charset=utf-8", text + "\n", kPageHeaders};
}

HttpReply Json(const std::string& json) {
    return {200, "application/json", json + "\n", kPageHeaders};
}

std::string Query(const HttpRequest& request, const std::string& name) {
    const auto found = request.query.find(name);
    return found == request.query.end() ? std::string() : found->second;
}

// The last event a page saw, as its browser sends it when it comes back.
std::optional<std::int64_t> LastEventId(const HttpRequest& request) {
    const std::string id = request.header("last-event-id");
    if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoll(id);
}

}  // namespace

LineServer::LineServer(const ServeSettings& settings, Log log)
    : settings_(settings),
      log_(std::move(log)),
      hosts_(settings.listen, settings.allowHosts),
      hub_(log_),
      metrics_(settings.store) {
    feed_ = std::make_unique<LiveFeed>(settings_.store, hub_, log_, settings_.pace);
    http_ = std::make_unique<HttpServer>(
        settings_.listen, settings_.limits,
        [this](const HttpRequest& request) { return handle(request); }, log_);
}

LineServer::~LineServer() {
    hub_.closeAll();  // the streams end, so the server's threads are free to stop
    http_.reset();
    feed_.reset();
}

HttpReply LineServer::handle(const HttpRequest& request) {
    if (!hosts_.allows(request.header("host"))) {
        log_("a request for host " + Quoted(request.header("host")) + " refused");
        return Text(421, "this server does not answer for that host name");
    }
    if (request.path == "/") return page();
    if (request.path == "/events") return events(request);
    if (request.path == "/api/live") return Json(feed_->json().dump());
    if (request.path == "/report") return report(request, false);
    if (request.path == "/api/report") return report(request, true);
    if (request.path == "/metrics") return metrics();
    return Text(404, "no such page: the line live is at /");
}

HttpReply LineServer::page() {
    HttpReply reply{200, "text/html; charset=utf-8", LivePage(feed_->json()), kPageHeaders};
    return reply;
}

HttpReply LineServer::events(const HttpRequest& request) {
    HttpReply reply{200, "text/event-stream", {}, kPageHeaders};
    reply.headers.push_back({"X-Accel-Buffering", "no"});  // a proxy passes each event on at once
    if (request.method == "HEAD") return reply;
    auto client = std::make_shared<EventClient>(settings_.streamLimitBytes);
    feed_->subscribe(client, LastEventId(request));
    reply.stream = client;
    reply.streamEnded = [this, client] { hub_.remove(client); };
    return reply;
}

HttpReply LineServer::report(const HttpRequest& request, bool json) {
    const auto period =
        ParseReportPeriod(Query(request, "since"), Query(request, "until"), std::time(nullptr));
    if (!period) {
        return Text(400, std::string("since and until take an ISO 8601 date or time, the end "
                                     "after the start: ") +
                             kTimeBoundForms);
    }
    try {
        const LineReport report = ReadLineReportAt(settings_.store, *period,
                                                   {{},
                                                    {},
                                                    Query(request, "station"),
                                                    Query(request, "port"),
                                                    Query(request, "recipe"),
                                                    Query(request, "lot"),
                                                    Query(request, "image"),
                                                    Query(request, "version")},
                                                   AlertRule{});
        if (json) return Json(RenderedLineReport(report, ReportFormat::Json));
        return {200, "text/html; charset=utf-8", RenderedLineReport(report, ReportFormat::Html),
                kPageHeaders};
    } catch (const StoreError& error) {
        return Text(503, error.what());
    }
}

HttpReply LineServer::metrics() {
    const std::string text =
        metrics_.text(feed_->snapshot(), {hub_.clients(), hub_.droppedSoFar()}, std::time(nullptr));
    return {200, "text/plain; version=0.0.4; charset=utf-8", text};
}
