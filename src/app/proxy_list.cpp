#include "app/proxy_list.h"

#include <algorithm>

#include "app/command_line.h"
#include "cachemgr/manager_connection.h"
#include "common/text_helpers.h"

namespace reqwatch {

namespace {

ProxyAddress parseEntry(const std::string& entry, std::int32_t defaultPort) {
    if (entry.empty()) {
        throw std::string("Unknown host - an empty entry in the list");
    }
    std::string host = entry;
    std::string port;
    if (entry.front() == '[') {
        const auto close = entry.find(']');
        if (close == std::string::npos) {
            throw std::string("Unknown host - '" + entry + "' has no closing bracket");
        }
        host = entry.substr(1, close - 1);
        const std::string rest = entry.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                throw std::string("Unknown host - '" + entry + "' has text after its bracket");
            }
            port = rest.substr(1);
        }
    } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
        const auto colon = entry.find(':');
        host = entry.substr(0, colon);
        port = entry.substr(colon + 1);
    }
    if (host.empty()) {
        throw std::string("Unknown host - no host before the port in '" + entry + "'");
    }
    const bool colonBeforePort = entry.front() == '['
                                     ? entry.back() == ':'
                                     : std::count(entry.begin(), entry.end(), ':') == 1;
    if (port.empty() && colonBeforePort) {
        throw std::string("Unknown port - no port after the host in '" + entry + "'");
    }
    if (port.empty()) {
        return {host, defaultPort};
    }
    try {
        return {host, parsePort(port)};
    } catch (const std::string& message) {
        throw std::string("Unknown port - " + message);
    }
}

}  // namespace

std::string ProxyAddress::text() const {
    return endpointText(host, port);
}

std::vector<ProxyAddress> parseProxyList(const std::string& hosts, std::int32_t defaultPort) {
    std::vector<ProxyAddress> list;
    const StringList entries = splitString(hosts, ",");
    // splitString gives nothing for an empty text and drops a last empty item.
    if (hosts.empty() || hosts.back() == ',') {
        throw std::string("Unknown host - an empty entry in the list");
    }
    for (const auto& entry : entries) {
        const ProxyAddress address = parseEntry(entry, defaultPort);
        // A proxy watched twice would count its requests twice.
        if (std::find(list.begin(), list.end(), address) != list.end()) {
            throw std::string("Unknown host - " + address.text() + " is in the list twice");
        }
        list.push_back(address);
    }
    return list;
}

std::vector<ProxyAddress> proxiesOf(const Options& options) {
    try {
        return parseProxyList(options.host, options.port);
    } catch (const std::string&) {
        return {{options.host, options.port}};
    }
}

}  // namespace reqwatch
