#include "serve/ListenAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

std::optional<ListenAddress> ParseListenAddress(const std::string& text) {
    ListenAddress address;
    std::string port;
    if (text.starts_with("[")) {
        const auto close = text.find("]:");
        if (close == std::string::npos) return std::nullopt;
        address.host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) return std::nullopt;
        address.host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (address.host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535) {
        return std::nullopt;
    }
    address.port = std::uint16_t(std::stoi(port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        return std::nullopt;
    }
    std::memcpy(&address.socket, found->ai_addr, found->ai_addrlen);
    address.length = found->ai_addrlen;
    freeaddrinfo(found);
    return address;
}

bool ListenAddress::wildcard() const {
    if (socket.ss_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in&>(socket).sin_addr.s_addr == htonl(INADDR_ANY);
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(socket);
    return IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr);
}

bool ListenAddress::loopback() const {
    if (socket.ss_family == AF_INET) {
        return (ntohl(reinterpret_cast<const sockaddr_in&>(socket).sin_addr.s_addr) >> 24) == 127;
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(socket);
    return IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr);
}

std::string ListenAddress::text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}
