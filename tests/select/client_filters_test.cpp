#include "select/client_filters.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace reqwatch {
namespace {

Connection client(const std::string& peer, StringList users = {}) {
    Connection connection;
    connection.peer = peer;
    connection.hostName = peer;
    connection.users = std::move(users);
    return connection;
}

TEST(HostsFilter, AddressesMasksAndPrefixLengths) {
    struct Case {
        StringList hosts;
        std::string peer;
        bool matches;
    };
    const Case cases[] = {
        {{"10.0.0.5"}, "10.0.0.5", true},
        {{"10.0.0.5"}, "10.0.0.6", false},
        {{"192.168.1.0/24"}, "192.168.1.77", true},
        {{"192.168.1.0/255.255.255.0"}, "192.168.1.77", true},
        {{"192.168.1.0/24"}, "192.168.2.1", false},
        {{"192.168.1.7/24"}, "192.168.1.7", false},  // host bits must be zero
        {{"0.0.0.0/0"}, "172.16.9.9", true},
        {{"0.0.0.0/0"}, "[::1]", true},
        {{"10.0.0.0/8", "192.168.0.0/16"}, "192.168.44.1", true},
        {{"10.0.0.0/8", "192.168.0.0/16"}, "172.16.0.1", false},
        {{"10.0.0.0/xy"}, "10.0.0.1", false},  // no number reads as /0
        {{"0.0.0.0/xy"}, "10.0.0.1", true},
        {{"10.0.0.0/32"}, "10.0.0.0", true},
        {{"10.0.0.0/ 8"}, "10.9.9.9", true},
        {{"10.1"}, "10.0.0.1", true},  // short forms of inet_addr
        {{"ws10"}, "10.0.0.1", false},
        {{"ws10"}, "[::1]", true},  // both fail to read as addresses
        {{"ws10"}, "255.255.255.255", true},
        {{}, "10.0.0.1", false},
        // A prefix length outside 0 to 32 and an empty entry match no client.
        {{"0.0.0.0/33"}, "10.0.0.1", false},
        {{"0.0.0.0/99"}, "10.0.0.1", false},
        {{"0.0.0.0/-1"}, "10.0.0.1", false},
        {{"0.0.0.0/-9"}, "10.0.0.1", false},
        {{""}, "10.0.0.1", false},
        {{"", "10.0.0.1"}, "10.0.0.1", true},
        {{"/8"}, "255.9.9.9", false},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(hostsMatch(item.hosts, client(item.peer)), item.matches)
            << joinStrings(item.hosts, ",") << " against " << item.peer;
    }
}

TEST(UsersFilter, ExactLoginsOnly) {
    EXPECT_TRUE(usersMatch({"alice"}, client("10.0.0.1", {"bob", "alice"})));
    EXPECT_FALSE(usersMatch({"Alice"}, client("10.0.0.1", {"alice"})));
    EXPECT_FALSE(usersMatch({"alice"}, client("10.0.0.1")));
    EXPECT_FALSE(usersMatch({}, client("10.0.0.1", {"alice"})));
    EXPECT_FALSE(usersMatch({"ali"}, client("10.0.0.1", {"alice"})));
}

TEST(FilterConnections, EveryNonEmptyFilterMustPass) {
    const ConnectionList sample = {client("10.0.0.1", {"alice"}), client("10.0.0.2"),
                                   client("192.168.0.1", {"alice", "bob"}),
                                   client("10.0.0.3", {"bob"})};
    struct Case {
        StringList hosts;
        StringList users;
        std::vector<std::string> kept;
    };
    const Case cases[] = {
        {{}, {}, {"10.0.0.1", "10.0.0.2", "192.168.0.1", "10.0.0.3"}},
        {{"10.0.0.0/8"}, {}, {"10.0.0.1", "10.0.0.2", "10.0.0.3"}},
        {{}, {"alice"}, {"10.0.0.1", "192.168.0.1"}},
        {{"10.0.0.0/8"}, {"bob"}, {"10.0.0.3"}},
        {{"10.0.0.2"}, {"bob"}, {}},
    };
    for (const auto& item : cases) {
        Options options;
        options.hosts = item.hosts;
        options.users = item.users;
        ConnectionList connections = sample;
        filterConnections(connections, options);
        std::vector<std::string> kept;
        for (const auto& connection : connections) {
            kept.push_back(connection.peer);
            EXPECT_FALSE(isFilteredOut(connection, options));
        }
        EXPECT_EQ(kept, item.kept);
    }
}

}  // namespace
}  // namespace reqwatch
