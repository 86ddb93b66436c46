#include "serve/HostCheck.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

// The machine's name, and its full name where the resolver knows one.
void AddHostNames(std::set<std::string>& names) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return;
    names.insert(Lower(host));
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) == 0 && found) {
        if (found->ai_canonname) names.insert(Lower(found->ai_canonname));
        freeaddrinfo(found);
    }
}

// Every address of the machine's interfaces, for a server that listens on all of them.
void AddInterfaceAddresses(std::set<std::string>& names) {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return;
    for (const ifaddrs* at = interfaces; at; at = at->ifa_next) {
        if (!at->ifa_addr) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (at->ifa_addr->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr, text,
                      sizeof text);
        } else if (at->ifa_addr->sa_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(at->ifa_addr)->sin6_addr,
                      text, sizeof text);
        } else {
            continue;
        }
        names.insert(Lower(text));
    }
    freeifaddrs(interfaces);
}

}  // namespace

HostCheck::HostCheck(const ListenAddress& listen, const std::vector<std::string>& allowed) {
    names_.insert(Lower(listen.host));
    for (const std::string& name : allowed) names_.insert(HostOf(name));
    if (listen.loopback() || listen.wildcard()) {
        names_.insert({"localhost", "127.0.0.1", "::1"});
    }
    AddHostNames(names_);
    if (listen.wildcard()) AddInterfaceAddresses(names_);
    names_.erase("");
}

std::string HostCheck::HostOf(const std::string& header) {
    std::string host = header;
    if (host.starts_with("[")) {
        const auto close = host.find(']');
        if (close == std::string::npos) return {};
        host = host.substr(1, close - 1);
    } else if (const auto colon = host.find(':');
               colon != std::string::npos && host.find(':', colon + 1) == std::string::npos) {
        host = host.substr(0, colon);
    }
    return Lower(host);
}

bool HostCheck::allows(const std::string& hostHeader) const {
    const std::string host = HostOf(hostHeader);
    return !host.empty() && names_.count(host) > 0;
}
