#include "select/sort_orders.h"

#include "report/value_formatting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace reqwatch {
namespace {

Connection makeConnection(const std::string& peer, std::int64_t size, std::int64_t current,
                          std::int64_t average, std::int64_t maxTime) {
    Connection connection;
    connection.peer = peer;
    connection.size = size;
    connection.currentSpeed = current;
    connection.averageSpeed = average;
    connection.maxTime = maxTime;
    return connection;
}

std::vector<std::string> peers(const ConnectionList& connections) {
    std::vector<std::string> result;
    for (const auto& connection : connections) {
        result.push_back(connection.peer);
    }
    return result;
}

TEST(SortOrders, EachOrderPutsTheLargestValueOfItsFieldFirst) {
    const ConnectionList sample = {
        makeConnection("small-fast", 10, 900, 5, 1),
        makeConnection("big", 1000, 1, 50, 2),
        makeConnection("long-running", 100, 2, 500, 9000),
    };
    struct Case {
        SortOrder order;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {BySize, {"big", "long-running", "small-fast"}},
        {ByCurrentSpeed, {"small-fast", "long-running", "big"}},
        {ByAverageSpeed, {"long-running", "big", "small-fast"}},
        {ByMaxTime, {"long-running", "big", "small-fast"}},
    };
    for (const auto& item : cases) {
        ConnectionList connections = sample;
        sortConnections(connections, item.order);
        EXPECT_EQ(peers(connections), item.expected) << settingName(item.order);
    }
}

TEST(SortOrders, ComparatorsAreStrictAndTheTableFollowsTheEnumeration) {
    const auto a = makeConnection("a", 5, 5, 5, 5);
    const auto b = makeConnection("b", 5, 5, 5, 5);
    for (const auto comparator : sortComparators) {
        EXPECT_FALSE(comparator(a, b));
        EXPECT_FALSE(comparator(b, a));
    }
    EXPECT_EQ(sortComparators[BySize], &compareBySize);
    EXPECT_EQ(sortComparators[ByCurrentSpeed], &compareByCurrentSpeed);
    EXPECT_EQ(sortComparators[ByAverageSpeed], &compareByAverageSpeed);
    EXPECT_EQ(sortComparators[ByMaxTime], &compareByMaxTime);

    UrlEntry large;
    large.size = 2;
    UrlEntry small;
    small.size = 1;
    EXPECT_TRUE(compareUrlsBySize(large, small));
    EXPECT_FALSE(compareUrlsBySize(small, large));
    EXPECT_FALSE(compareUrlsBySize(small, small));
}

TEST(SortOrders, AnOrderOutsideTheTableLeavesTheListAsItIs) {
    const ConnectionList sample = {makeConnection("a", 1, 0, 0, 0), makeConnection("b", 3, 0, 0, 0),
                                   makeConnection("c", 2, 0, 0, 0)};
    for (const auto order :
         {static_cast<SortOrder>(4), static_cast<SortOrder>(-1), static_cast<SortOrder>(1000)}) {
        ConnectionList connections = sample;
        sortConnections(connections, order);
        EXPECT_EQ(peers(connections), (std::vector<std::string>{"a", "b", "c"}));
    }
    ConnectionList empty;
    sortConnections(empty, BySize);
    EXPECT_TRUE(empty.empty());
}

}  // namespace
}  // namespace reqwatch
