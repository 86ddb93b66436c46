#include "serve/HttpServer.h"

#include <microhttpd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr std::size_t kStreamBlockBytes = 4096;

// What a request keeps between libmicrohttpd's calls: its stream, when its reply is one.
struct RequestState {
    std::shared_ptr<EventClient> stream;
    std::function<void()> streamEnded;
};

struct StreamState {
    std::shared_ptr<EventClient> client;
    MHD_Connection* connection = nullptr;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

MHD_Result CollectHeader(void* into, MHD_ValueKind, const char* key, const char* value) {
    static_cast<std::map<std::string, std::string>*>(into)->emplace(Lower(key), value ? value : "");
    return MHD_YES;
}

MHD_Result CollectArgument(void* into, MHD_ValueKind, const char* key, const char* value) {
    static_cast<std::map<std::string, std::string>*>(into)->emplace(key, value ? value : "");
    return MHD_YES;
}

ssize_t ReadStream(void* cls, std::uint64_t, char* buffer, std::size_t max) {
    auto* state = static_cast<StreamState*>(cls);
    const long taken =
        state->client->take(buffer, max, [state] { MHD_suspend_connection(state->connection); });
    if (taken == EventClient::kEnded) return MHD_CONTENT_READER_END_OF_STREAM;
    return taken < 0 ? MHD_CONTENT_READER_END_WITH_ERROR : ssize_t(taken);
}

void FreeStream(void* cls) {
    delete static_cast<StreamState*>(cls);
}

MHD_Result Queue(MHD_Connection* connection, const HttpReply& reply) {
    MHD_Response* response = MHD_create_response_from_buffer(
        reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.type.c_str());
    for (const auto& [name, value] : reply.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result QueueStream(MHD_Connection* connection, const HttpReply& reply) {
    auto* state = new StreamState{reply.stream, connection};
    MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlockBytes,
                                                               ReadStream, state, FreeStream);
    if (!response) {
        delete state;
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.type.c_str());
    for (const auto& [name, value] : reply.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    // Woken and cut from other threads; both end with the connection (EventClient::close).
    reply.stream->attach([connection] { MHD_resume_connection(connection); },
                         [connection] {
                             const MHD_ConnectionInfo* info = MHD_get_connection_info(
                                 connection, MHD_CONNECTION_INFO_CONNECTION_FD);
                             if (info) shutdown(info->connect_fd, SHUT_RDWR);
                         });
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
}

HttpReply Refusal(int status, const std::string& text) {
    return {status, "text/plain; charset=utf-8", text + "\n"};
}

}  // namespace

std::string HttpRequest::header(const std::string& lowerName) const {
    const auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
}

struct HttpServer::Callbacks {
    static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char*, std::size_t* uploadSize,
                             void** requestState) {
        auto& server = *static_cast<HttpServer*>(cls);
        const bool first = *requestState == nullptr;
        if (first) *requestState = new RequestState;
        auto& state = *static_cast<RequestState*>(*requestState);
        const std::string verb = method ? method : "";
        if (verb != "GET" && verb != "HEAD") {
            HttpReply reply = Refusal(405, "only GET and HEAD are answered");
            reply.headers.push_back({MHD_HTTP_HEADER_ALLOW, "GET, HEAD"});
            server.log_(verb.substr(0, 16) + " refused");
            return Queue(connection, reply);
        }
        // A body (announced or sent) is not read: nothing here takes one.
        const char* length =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
        const char* chunked =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Transfer-Encoding");
        if ((length && std::string(length) != "0") || chunked || *uploadSize > 0) {
            *uploadSize = 0;
            server.log_("a request with a body refused");
            return Queue(connection, Refusal(413, "requests with a body are refused"));
        }
        HttpRequest request;
        request.method = verb;
        request.path = url ? url : "";
        MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &request.headers);
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, CollectArgument,
                                  &request.query);
        HttpReply reply;
        try {
            reply = server.handler_(request);
        } catch (const std::exception& error) {
            server.log_(std::string("a request failed: ") + error.what());
            reply = Refusal(500, "the request failed");
        }
        if (!reply.stream) return Queue(connection, reply);
        state.stream = reply.stream;
        state.streamEnded = reply.streamEnded;
        return QueueStream(connection, reply);
    }

    static void Completed(void*, MHD_Connection*, void** requestState, MHD_RequestTerminationCode) {
        auto* state = static_cast<RequestState*>(*requestState);
        if (!state) return;
        if (state->stream) state->stream->close();
        if (state->streamEnded) state->streamEnded();
        delete state;
        *requestState = nullptr;
    }

    static void Logged(void* cls, const char* format, va_list arguments) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        static_cast<HttpServer*>(cls)->log_(line);
    }
};

HttpServer::HttpServer(const ListenAddress& address, HttpLimits limits, Handler handler, Log log)
    : handler_(std::move(handler)), log_(std::move(log)) {
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (address.socket.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
    // The logger first, so that every message of the daemon's start comes through it.
    daemon_ = MHD_start_daemon(
        flags, address.port, nullptr, nullptr, &Callbacks::Access, this, MHD_OPTION_EXTERNAL_LOGGER,
        &Callbacks::Logged, this, MHD_OPTION_SOCK_ADDR,
        reinterpret_cast<const sockaddr*>(&address.socket), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        limits.requestBytes, MHD_OPTION_CONNECTION_LIMIT, limits.connections,
        MHD_OPTION_CONNECTION_TIMEOUT, limits.idleSeconds, MHD_OPTION_THREAD_POOL_SIZE,
        limits.threads, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::Completed, nullptr,
        MHD_OPTION_END);
    if (!daemon_) throw std::runtime_error("cannot listen on " + address.text());
    const MHD_DaemonInfo* bound = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = bound ? bound->port : address.port;
}

HttpServer::~HttpServer() {
    MHD_stop_daemon(daemon_);
}
