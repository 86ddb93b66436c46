// Which names a request's Host header may give: the listen address, the machine's own names (and
// on a wildcard address the addresses of its interfaces; on loopback or wildcard "localhost"), and
// the names given with --allow-host (a proxy's, the line's DNS name). Anything else is refused, so
// a page of another site whose name was pointed at this machine (DNS rebinding) cannot read the
// line.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "serve/ListenAddress.h"

class HostCheck {
public:
    HostCheck(const ListenAddress& listen, const std::vector<std::string>& allowed);
    // The header's host (a port after it, brackets around an IPv6 address and a final dot are
    // ignored; case too).
    bool allows(const std::string& hostHeader) const;
    const std::set<std::string>& names() const { return names_; }

    // The host part of a Host header, lower case; empty when there is none.
    static std::string HostOf(const std::string& header);

private:
    std::set<std::string> names_;
};
