#include "select/url_compaction.h"
#include "support/kept_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace reqwatch {
namespace {

UrlEntry request(const std::string& id, const std::string& uri, std::int64_t size,
                 std::int64_t elapsed, std::int64_t average = 0) {
    UrlEntry entry;
    entry.id = testsupport::keep(id);
    entry.count = 1;
    entry.uri = testsupport::keep(uri);
    entry.size = size;
    entry.elapsed = elapsed;
    entry.averageSpeed = average;
    entry.currentSpeed = size;  // stands out when carried over
    entry.delayPool = 4;
    return entry;
}

TEST(CompactUrls, MergesRepeatsIntoOneEntryWithSums) {
    Connection connection;
    connection.size = 12345;
    connection.urls = {request("0x1", "http://a/", 100, 2, 50), request("0x2", "http://b/", 250, 1),
                       request("0x3", "http://a/", 200, 4), request("0x4", "http://a/", 300, 6),
                       request("0x5", "http://A/", 1, 1)};
    ConnectionList connections = {connection};
    compactUrls(connections);
    const auto& urls = connections[0].urls;
    ASSERT_EQ(urls.size(), 3u);
    EXPECT_EQ(urls[0].uri, "http://a/");
    EXPECT_EQ(urls[0].count, 3);
    EXPECT_EQ(urls[0].size, 600);
    EXPECT_EQ(urls[0].elapsed, 12);
    EXPECT_EQ(urls[0].averageSpeed, 50);
    EXPECT_EQ(urls[0].id, "0x1");  // the rest comes from the first request
    EXPECT_EQ(urls[0].currentSpeed, 100);
    EXPECT_EQ(urls[0].delayPool, 4);
    EXPECT_EQ(urls[1].uri, "http://b/");
    EXPECT_EQ(urls[2].uri, "http://A/");    // letter case differs: not merged
    EXPECT_EQ(connections[0].size, 12345);  // the connection's totals stay

    const auto once = connections;
    compactUrls(connections);
    EXPECT_EQ(connections[0].urls.size(), once[0].urls.size());
    EXPECT_EQ(connections[0].urls[0].count, 3);
}

TEST(CompactUrls, ZeroSumsKeepTheFirstAverageAndDistinctUrlsAreOnlySorted) {
    Connection zero;
    zero.urls = {request("0x1", "http://a/", 0, 5, 77), request("0x2", "http://a/", 0, 0)};
    Connection distinct;
    distinct.urls = {request("0x1", "http://a/", 1, 1), request("0x2", "http://b/", 3, 1),
                     request("0x3", "http://c/", 2, 1)};
    ConnectionList connections = {zero, distinct, Connection{}};
    compactUrls(connections);
    ASSERT_EQ(connections[0].urls.size(), 1u);
    EXPECT_EQ(connections[0].urls[0].count, 2);
    EXPECT_EQ(connections[0].urls[0].elapsed, 5);
    EXPECT_EQ(connections[0].urls[0].averageSpeed, 77);
    std::vector<std::string_view> order;
    for (const auto& url : connections[1].urls) {
        order.push_back(url.uri);
        EXPECT_EQ(url.count, 1);
    }
    EXPECT_THAT(order, ::testing::ElementsAre("http://b/", "http://c/", "http://a/"));
    EXPECT_TRUE(connections[2].urls.empty());
}

}  // namespace
}  // namespace reqwatch
