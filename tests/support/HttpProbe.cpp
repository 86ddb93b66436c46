#include "tests/support/HttpProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

void SendAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the server may refuse before it read everything
        sent += std::size_t(n);
    }
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string RawExchange(std::uint16_t port, const std::string& request) {
    const int fd = ConnectLoopback(port);
    if (fd < 0) return {};
    SendAll(fd, request);
    std::string answer;
    char chunk[65536];
    for (;;) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 60'000) <= 0) break;  // a safety net only
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        answer.append(chunk, std::size_t(n));
    }
    close(fd);
    return answer;
}

HttpAnswer ParseAnswer(const std::string& text) {
    HttpAnswer answer;
    const auto headEnd = text.find("\r\n\r\n");
    if (text.size() < 12 || headEnd == std::string::npos) return answer;
    answer.status = std::stoi(text.substr(9, 3));
    std::size_t at = text.find("\r\n") + 2;
    while (at < headEnd) {
        const auto end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            answer.headers[Lower(line.substr(0, colon))] =
                line.substr(line.find_first_not_of(' ', colon + 1));
        }
        at = end + 2;
    }
    answer.body = text.substr(headEnd + 4);
    if (Lower(answer.headers["transfer-encoding"]) == "chunked") {
        std::string body;
        for (std::size_t pos = 0; pos < answer.body.size();) {
            const auto lineEnd = answer.body.find("\r\n", pos);
            if (lineEnd == std::string::npos) break;
            const std::size_t size =
                std::stoul(answer.body.substr(pos, lineEnd - pos), nullptr, 16);
            if (size == 0) break;
            body += answer.body.substr(lineEnd + 2, size);
            pos = lineEnd + 2 + size + 2;
        }
        answer.body = body;
    }
    return answer;
}

HttpAnswer HttpGet(std::uint16_t port, const std::string& path, const std::string& host,
                   const std::map<std::string, std::string>& headers) {
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: " +
                          (host.empty() ? "127.0.0.1:" + std::to_string(port) : host) +
                          "\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
    return ParseAnswer(RawExchange(port, request + "\r\n"));
}

EventStream::EventStream(std::uint16_t port, const std::string& lastEventId) {
    socket_ = ConnectLoopback(port);
    if (socket_ < 0) throw std::runtime_error("cannot connect to the server");
    // HTTP/1.0: the stream comes unchunked, as it is written.
    std::string request = "GET /events HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nAccept: text/event-stream\r\n";
    if (!lastEventId.empty()) request += "Last-Event-ID: " + lastEventId + "\r\n";
    SendAll(socket_, request + "\r\n");
}

EventStream::~EventStream() {
    if (socket_ >= 0) close(socket_);
}

std::optional<StreamEvent> EventStream::next(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (status_ == 0) {
            const auto headEnd = buffer_.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                status_ = ParseAnswer(buffer_.substr(0, headEnd + 4)).status;
                buffer_.erase(0, headEnd + 4);
            }
        }
        const auto blockEnd = buffer_.find("\n\n");
        if (status_ != 0 && blockEnd != std::string::npos) {
            std::string block = buffer_.substr(0, blockEnd);
            buffer_.erase(0, blockEnd + 2);
            StreamEvent event;
            bool any = false;
            std::size_t at = 0;
            while (at <= block.size()) {
                auto lineEnd = block.find('\n', at);
                if (lineEnd == std::string::npos) lineEnd = block.size();
                std::string line = block.substr(at, lineEnd - at);
                at = lineEnd + 1;
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.starts_with("id: ")) {
                    event.id = line.substr(4);
                    any = true;
                } else if (line.starts_with("event: ")) {
                    event.name = line.substr(7);
                    any = true;
                } else if (line.starts_with("data: ")) {
                    event.data = line.substr(6);
                    any = true;
                }
            }
            if (any && !event.name.empty()) return event;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (ended_ || left.count() <= 0) return std::nullopt;
        pollfd wait{socket_, POLLIN, 0};
        if (poll(&wait, 1, int(left.count())) <= 0) continue;
        char chunk[65536];
        const ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            ended_ = true;
            continue;
        }
        buffer_.append(chunk, std::size_t(n));
    }
}

std::optional<StreamEvent> EventStream::nextWith(const std::string& name, const std::string& text,
                                                 std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        auto event = next(left);
        if (!event) return std::nullopt;
        if (event->name == name && event->data.find(text) != std::string::npos) return event;
    }
}

int ConnectLoopback(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = fd >= 0 &&
                       bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0) close(fd);
    if (!bound) throw std::runtime_error("no free port on 127.0.0.1");
    return ntohs(address.sin_port);
}
