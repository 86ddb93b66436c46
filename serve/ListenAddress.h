// Where `serve` listens: ADDR:PORT as --listen gives it, an IPv4 address, a bracketed IPv6 one
// or a name that resolves, and a port.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

struct ListenAddress {
    std::string host;  // as given, without brackets
    std::uint16_t port = 0;
    sockaddr_storage socket{};
    socklen_t length = 0;
    bool wildcard() const;  // 0.0.0.0 or ::
    bool loopback() const;
    std::string text() const;  // "127.0.0.1:8350", "[::1]:8350"
};

constexpr const char* kDefaultListen = "127.0.0.1:8350";

// Empty when the text is no address and port, or the name does not resolve.
std::optional<ListenAddress> ParseListenAddress(const std::string& text);
