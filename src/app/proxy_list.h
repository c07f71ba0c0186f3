// The proxies a run watches: -h names one or a comma-separated list, each
// "host" or "host:port" (an IPv6 address bare, or in brackets before a
// port); an entry without a port has the one of -p.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"

namespace reqwatch {

struct ProxyAddress {
    std::string host;  // as the name service takes it: an IPv6 address without brackets
    std::int32_t port = 3128;

    // "host:port", an IPv6 address in brackets.
    std::string text() const;
    bool operator==(const ProxyAddress&) const = default;
};

// Throws the message for what is wrong with an entry: "Unknown host - " or
// "Unknown port - " and the reason.
std::vector<ProxyAddress> parseProxyList(const std::string& hosts, std::int32_t defaultPort);

// The proxies of the options; the list is known to be good (the command
// line and the prompts check it), otherwise the one proxy as written.
std::vector<ProxyAddress> proxiesOf(const Options& options);

}  // namespace reqwatch
