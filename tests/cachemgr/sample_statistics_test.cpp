#include "cachemgr/sample_statistics.h"
#include "support/kept_text.h"

#include "common/saturating.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace reqwatch {
namespace {

UrlEntry request(const std::string& id, std::int64_t size, std::int64_t elapsed,
                 std::int64_t previousSize = 0) {
    UrlEntry entry;
    entry.id = testsupport::keep(id);
    entry.count = 1;
    entry.size = size;
    entry.elapsed = elapsed;
    entry.previousSize = previousSize;
    return entry;
}

Connection client(const std::string& peer, std::vector<UrlEntry> urls) {
    Connection connection;
    connection.peer = peer;
    for (const auto& url : urls) {
        connection.size = saturatingAdd(connection.size, url.size);
    }
    connection.urls = std::move(urls);
    return connection;
}

TEST(SampleStatistics, AverageSpeedsSortingAndTotals) {
    SampleState state;
    state.current = {client("small", {request("a", 5000, 0), request("b", 5000, 3)}),
                     client("big", {request("c", 100, 10), request("d", 90000, 9)})};
    completeSample(state, {1000, 1000000});
    ASSERT_EQ(state.current.size(), 2u);
    EXPECT_EQ(state.current[0].peer, "big");
    EXPECT_EQ(state.current[0].urls[0].id, "d");  // largest first
    EXPECT_EQ(state.current[0].urls[0].averageSpeed, 10000);
    EXPECT_EQ(state.current[0].urls[1].averageSpeed, 10);
    EXPECT_EQ(state.current[0].averageSpeed, 10010);
    EXPECT_EQ(state.current[1].averageSpeed, 1666);  // 5000/0 counts as 0
    EXPECT_EQ(state.totalAverageSpeed, 11676);
    EXPECT_EQ(state.totalCurrentSpeed, 0);  // no previous sample yet
    EXPECT_EQ(state.requestCount, 4);
    EXPECT_EQ(state.sampleTime, 1000);
    ASSERT_EQ(state.previous.size(), 2u);
    EXPECT_EQ(state.previous[0].peer, "big");
}

TEST(SampleStatistics, CurrentSpeedOnlyForRequestsThatGrewSinceAKnownSample) {
    struct Case {
        std::int64_t size;
        std::int64_t previousSize;
        std::int64_t milliseconds;  // since the previous sample
        std::int64_t expected;
    };
    const Case cases[] = {
        {3000, 1000, 2000, 1000},     // grew by 2000 in two seconds
        {101000, 1000, 1500, 66666},  // 100 000 bytes in 1.5 s: 65.1 KB/s
        {3000, 1000, 999, 2002},      // under a second is no whole second
        {3000, 1000, 0, 2000000},     // the same millisecond counts as one
        {3000, 1000, -5, 2000000},    // nor does a clock that went back
        {1000, 1000, 2000, 0},        // did not grow
        {900, 1000, 2000, 0},         // shrank
        {3000, 0, 2000, 0},           // new, or previously empty
        {0, 0, 2000, 0},
    };
    for (const auto& item : cases) {
        SampleState state;
        state.sampleTime = 500;
        state.sampleMilliseconds = 500000;
        state.current = {client("x", {request("a", item.size, 10, item.previousSize)})};
        completeSample(state, {501, 500000 + item.milliseconds});
        EXPECT_EQ(state.current[0].urls[0].currentSpeed, item.expected)
            << item.size << " after " << item.previousSize << " in " << item.milliseconds;
        EXPECT_EQ(state.current[0].currentSpeed, item.expected);
        EXPECT_EQ(state.totalCurrentSpeed, item.expected);
        EXPECT_EQ(state.sampleMilliseconds, 500000 + item.milliseconds);
    }
}

TEST(SampleStatistics, NoCurrentSpeedWithoutAPreviousSampleTime) {
    SampleState state;
    state.current = {client("x", {request("a", 3000, 10, 1000)})};
    completeSample(state, {10, 10000});
    EXPECT_EQ(state.current[0].urls[0].currentSpeed, 0);
}

TEST(SampleStatistics, HostileNumbersSaturateInsteadOfOverflowing) {
    SampleState state;
    state.sampleTime = 1;
    state.current = {client("x", {request("a", INT64_MAX, 1, -INT64_MAX),
                                  request("b", INT64_MAX, 1, 1), request("c", INT64_MIN, -1)})};
    completeSample(state, {2, 1000});
    EXPECT_EQ(state.totalAverageSpeed, INT64_MAX);
    EXPECT_EQ(state.totalCurrentSpeed, INT64_MAX);
}

TEST(SampleStatistics, AnEmptySampleStillSetsTheSampleTime) {
    SampleState state;
    completeSample(state, {77, 77000});
    EXPECT_EQ(state.requestCount, 0);
    EXPECT_EQ(state.totalAverageSpeed, 0);
    EXPECT_EQ(state.sampleTime, 77);
    EXPECT_TRUE(state.previous.empty());
}

}  // namespace
}  // namespace reqwatch
