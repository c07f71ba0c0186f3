#include "select/client_filters.h"

#include <arpa/inet.h>

#include <algorithm>
#include <optional>

#include "common/number_conversion.h"

namespace reqwatch {

namespace {

// The mask of an entry's text after "/", in network byte order; none for a
// prefix length outside 0 to 32.
std::optional<std::uint32_t> maskOf(const std::string& text) {
    if (text.size() >= 3) {
        return inet_addr(text.c_str());
    }
    const std::int32_t bits = leadingInteger32(text);
    if (bits < 0 || bits > 32) {
        return std::nullopt;
    }
    const std::uint32_t hostOrder = bits == 0 ? 0u : ~std::uint32_t{0} << (32 - bits);
    return htonl(hostOrder);
}

bool entryMatches(const std::string& entry, std::uint32_t client) {
    const StringList parts = splitString(entry, "/");
    if (parts.empty()) {
        return false;
    }
    const std::uint32_t network = inet_addr(parts[0].c_str());
    std::uint32_t mask = 0xffffffffu;
    if (parts.size() > 1) {
        const auto parsed = maskOf(parts[1]);
        if (!parsed) {
            return false;
        }
        mask = *parsed;
    }
    return (client & mask) == network;
}

}  // namespace

bool hostsMatch(const StringList& hosts, const Connection& connection) {
    const std::uint32_t client = inet_addr(connection.peer.c_str());
    return std::any_of(hosts.begin(), hosts.end(),
                       [client](const std::string& entry) { return entryMatches(entry, client); });
}

bool usersMatch(const StringList& users, const Connection& connection) {
    return std::any_of(connection.users.begin(), connection.users.end(),
                       [&users](const std::string& user) { return listContains(users, user); });
}

bool isFilteredOut(const Connection& connection, const Options& options) {
    if (!options.hosts.empty() && !hostsMatch(options.hosts, connection)) {
        return true;
    }
    if (options.users.empty()) {
        return false;
    }
    return !usersMatch(options.users, connection);
}

void filterConnections(ConnectionList& connections, const Options& options) {
    if (options.hosts.empty() && options.users.empty()) {
        return;
    }
    connections.erase(std::remove_if(connections.begin(), connections.end(),
                                     [&options](const Connection& connection) {
                                         return isFilteredOut(connection, options);
                                     }),
                      connections.end());
}

}  // namespace reqwatch
