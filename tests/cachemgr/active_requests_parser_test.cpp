#include "cachemgr/active_requests_parser.h"

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cachemgr/exceptions.h"
#include "page_parsing.h"
#include "support/fake_cache_manager.h"

namespace reqwatch {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// One request block as the proxy writes it.
std::string block(const std::string& id, const std::string& address, const std::string& uri,
                  const std::string& size, const std::string& elapsed,
                  const std::string& user = "-", const std::string& pool = "0") {
    return "Connection: " + id + "\n\tFD 12, read 140, wrote 0\n\tremote: " + address +
           "\n\tlocal: 127.0.0.1:3128\nuri " + uri + "\nlogType TCP_MISS\nout.offset " + size +
           ", out.size " + size + "\nstart 1796896696.3 (" + elapsed + " seconds ago)\nusername " +
           user + "\ndelay_pool " + pool + "\n\n";
}

TEST(ActiveRequestsParser, GroupsRequestsByClientAddressInPageOrder) {
    SampleState state;
    parsePage(state, "Server: squid/5.7\nConnection: close\n" +
                         block("0x1", "10.0.0.2:4000", "http://a/1", "5000", "3.5", "Alice", "2") +
                         block("0x2", "10.0.0.1:4001", "http://b/", "700", "1.0") +
                         block("0x3", "10.0.0.2:4002", "http://a/2", "9000", "12.999", "alice") +
                         block("0x4", "[::1]:4003", "http://c/", "1", "0.1", "bob"));
    EXPECT_EQ(state.server, "squid/5.7");
    ASSERT_EQ(state.current.size(), 3u);

    const Connection& first = state.current[0];
    EXPECT_EQ(first.peer, "10.0.0.2");
    EXPECT_EQ(first.hostName, "10.0.0.2");
    EXPECT_EQ(first.size, 14000);
    EXPECT_EQ(first.maxTime, 12);
    EXPECT_THAT(first.users, ElementsAre("alice"));
    ASSERT_EQ(first.urls.size(), 2u);
    const UrlEntry& request = first.urls[0];
    EXPECT_EQ(request.id, "0x1");
    EXPECT_EQ(request.uri, "http://a/1");
    EXPECT_EQ(request.count, 1);
    EXPECT_EQ(request.size, 5000);
    EXPECT_EQ(request.elapsed, 3);
    EXPECT_EQ(request.user, "alice");
    EXPECT_EQ(request.delayPool, 2);
    EXPECT_EQ(request.previousSize, 0);
    EXPECT_EQ(first.urls[1].elapsed, 12);

    EXPECT_EQ(state.current[1].peer, "10.0.0.1");
    EXPECT_THAT(state.current[1].users, IsEmpty());
    EXPECT_EQ(state.current[1].urls[0].user, "");
    EXPECT_EQ(state.current[2].peer, "[::1]");
}

TEST(ActiveRequestsParser, ReadsTheRealProxyPage) {
    SampleState state;
    parsePage(state, testsupport::readFixture("squid-5.7-active_requests.txt"));
    EXPECT_EQ(state.server, "squid/5.7");
    ASSERT_EQ(state.current.size(), 1u);
    const Connection& client = state.current[0];
    EXPECT_EQ(client.peer, "127.0.0.1");
    EXPECT_EQ(client.urls.size(), 8u);
    EXPECT_EQ(client.size, 3 * 420226 + 4 * 1730226);  // the fourth word, out.size
    EXPECT_EQ(client.maxTime, 8);
    EXPECT_EQ(client.urls[0].uri, "cache_object://localhost/active_requests");
    EXPECT_EQ(client.urls[0].delayPool, 0);
    EXPECT_THAT(client.users, IsEmpty());
}

TEST(ActiveRequestsParser, TakesPreviousSizesById) {
    SampleState state;
    parsePage(state, block("0xa", "10.0.0.1:1", "http://a/", "100", "1") +
                         block("0xb", "10.0.0.1:2", "http://b/", "200", "1"));
    state.previous = state.current;
    state.current.clear();
    parsePage(state, block("0xb", "10.0.0.1:2", "http://b/", "250", "2") +
                         block("0xc", "10.0.0.1:3", "http://c/", "50", "1"));
    ASSERT_EQ(state.current.size(), 1u);
    EXPECT_EQ(state.current[0].urls[0].previousSize, 200);
    EXPECT_EQ(state.current[0].urls[1].previousSize, 0);
}

TEST(ActiveRequestsParser, IdsBelongToTheirWorkerSection) {
    // Two workers show the same ids; each request is matched only with the
    // previous request of its own worker, and a client in both is one client.
    const auto page = [](const std::string& size1, const std::string& size2) {
        return "by kid1 {\n" + block("0x1", "10.0.0.1:1", "http://a/", size1, "1") +
               "} by kid1\n\nby kid2 {\n" + block("0x1", "10.0.0.1:2", "http://b/", size2, "1") +
               block("0x2", "10.0.0.2:3", "http://c/", "7", "1") + "} by kid2\n";
    };
    SampleState state;
    parsePage(state, page("100", "1000"));
    ASSERT_EQ(state.current.size(), 2u);
    ASSERT_EQ(state.current[0].urls.size(), 2u);
    EXPECT_EQ(state.current[0].urls[0].worker, 1);
    EXPECT_EQ(state.current[0].urls[1].worker, 2);
    EXPECT_EQ(requestKey(state.current[0].urls[0]), "kid1 0x1");
    state.previous = state.current;
    state.current.clear();
    parsePage(state, page("150", "1100"));
    EXPECT_EQ(state.current[0].urls[0].previousSize, 100);
    EXPECT_EQ(state.current[0].urls[1].previousSize, 1000);

    // Lines that only look like section lines change nothing.
    state.previous = state.current;
    state.current.clear();
    parsePage(state, "by kid {\nby kid1x {\nb\n}\n} by kid\nby kid1 {\n} by kid1 \n" +
                         block("0x1", "10.0.0.1:1", "http://a/", "5", "1"));
    EXPECT_EQ(state.current[0].urls[0].worker, 1);  // "} by kid1 " does not close it
    EXPECT_EQ(state.current[0].urls[0].previousSize, 150);
}

TEST(ActiveRequestsParser, ReadsTheCapturedPagesOfNewerAndSmpProxies) {
    struct Case {
        const char* fixture;
        std::size_t requests;
        std::size_t clients;
        std::vector<std::int32_t> workers;  // of the requests, in page order
    };
    const Case cases[] = {
        {"squid-5.7-workers2-active_requests.txt", 6, 1, {1, 1, 1, 1, 2, 2}},
        {"squid-7.6-active_requests.txt", 7, 6, {0, 0, 0, 0, 0, 0, 0}},
        {"squid-6.14-active_requests.txt", 7, 6, {0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& item : cases) {
        SampleState state;
        const std::string reply = testsupport::readFixture(item.fixture);
        parsePage(state, reply.substr(reply.find('\n') + 1));  // after the status line
        EXPECT_EQ(state.current.size(), item.clients) << item.fixture;
        std::vector<std::int32_t> workers;
        for (const auto& connection : state.current) {
            for (const auto& url : connection.urls) {
                workers.push_back(url.worker);
            }
        }
        EXPECT_EQ(workers.size(), item.requests) << item.fixture;
        std::sort(workers.begin(), workers.end());
        EXPECT_EQ(workers, item.workers) << item.fixture;
    }
}

TEST(ActiveRequestsParser, LinesOutsideARequestTouchNothing) {
    SampleState state;
    // A per-request line before any address line has no entry to fill; a
    // "peer: " without ":" is ignored and the later lines fill the entry that
    // was current before.
    parsePage(state,
              "uri http://early/\nout.offset 1, 2, 99\nstart a (5.0 seconds ago)\n"
              "username early\ndelay_pool 7\n" +
                  block("0x1", "10.0.0.1:1", "http://a/", "10", "1") +
                  "Connection: 0x2\npeer: noport\nuri http://later/\nout.offset x, y, 5\n"
                  "usernamex bob\nusername\n");
    ASSERT_EQ(state.current.size(), 1u);
    const Connection& client = state.current[0];
    ASSERT_EQ(client.urls.size(), 1u);
    EXPECT_EQ(client.urls[0].uri, "http://later/");
    EXPECT_EQ(client.urls[0].size, 5);
    EXPECT_EQ(client.size, 15);  // every size line adds to the connection
    EXPECT_THAT(client.users, IsEmpty());
}

TEST(ActiveRequestsParser, RequestWithoutUriKeepsCountZeroAndRepeatedAddressLinesCopy) {
    SampleState state;
    parsePage(state, "Connection: 0x9\nremote: 10.0.0.1:1\nremote: 10.0.0.1:2\nusername \n");
    ASSERT_EQ(state.current.size(), 1u);
    ASSERT_EQ(state.current[0].urls.size(), 2u);
    EXPECT_EQ(state.current[0].urls[0].count, 0);
    EXPECT_EQ(state.current[0].urls[0].uri, "");
    EXPECT_EQ(state.current[0].urls[0].delayPool, -1);
    EXPECT_EQ(state.current[0].urls[1].id, "0x9");
}

TEST(ActiveRequestsParser, RecognisedLinesWithTheWrongWordCountChangeTheFormat) {
    const std::string lines[] = {
        "uri http://a/ b",
        "Server: squid 5",
        "Connection: 0x1 0x2",
        "remote: 10.0.0.1:1 x",
        "out.offset 1, 2",
        "start 1 (2 seconds ago) x",
        "start 1  (2 seconds ago)",
        "delay_pool 1 2",
        "username a b",
        "username  a",
        "peer: ",
        "uri ",
    };
    for (const auto& line : lines) {
        SampleState state;
        state.server = "squid/5.7";
        try {
            parsePage(state, block("0x1", "10.0.0.1:1", "http://a/", "1", "1") + line + "\n",
                      {"", 0, "", false, nullptr});
            ADD_FAILURE() << "accepted '" << line << "'";
        } catch (const sqstatException& error) {
            EXPECT_EQ(error.kind, sqstatException::FormatChanged);
            EXPECT_EQ(std::string(error.what()),
                      "Warning!!! Please send bug report. active_requests format changed - '" +
                          line + "'. squid/5.7. reqwatch-2015-02-08");
        }
    }
}

TEST(ActiveRequestsParser, NamesComeFromTheResolverOnlyWhileLookupsAreOn) {
    int lookups = 0;
    HostResolver resolver([&lookups](const std::string& address) {
        ++lookups;
        return "name-of-" + address;
    });
    SampleState state;
    const std::string page = block("0x1", "10.0.0.1:1", "http://a/", "1", "1") +
                             block("0x2", "10.0.0.1:2", "http://b/", "1", "1") +
                             block("0x3", "10.0.0.3:2", "http://b/", "1", "1");
    parsePage(state, page, {"", 0, "", true, &resolver});
    EXPECT_EQ(lookups, 2);  // once per new connection
    EXPECT_EQ(state.current[0].hostName, "name-of-10.0.0.1");
    state.current.clear();
    parsePage(state, page, {"", 0, "", false, &resolver});
    EXPECT_EQ(lookups, 2);
    EXPECT_EQ(state.current[0].hostName, "10.0.0.1");
}

TEST(SplitHostPort, SplitsAtTheLastColon) {
    EXPECT_EQ(splitHostPort("10.0.0.1:80"),
              std::make_pair(std::string("10.0.0.1"), std::string("80")));
    EXPECT_EQ(splitHostPort("[::1]:80").first, "[::1]");
    EXPECT_EQ(splitHostPort("noport"), std::make_pair(std::string(), std::string()));
}

TEST(FindPreviousEntry, FirstEntryWithTheIdOrANewOne) {
    ConnectionList previous(2);
    previous[0].urls.resize(1);
    previous[0].urls[0].id = "0x1";
    previous[0].urls[0].size = 10;
    previous[1].urls.resize(1);
    previous[1].urls[0].id = "0x1";
    previous[1].urls[0].size = 20;
    const PreviousEntries index(previous);
    EXPECT_EQ(findPreviousEntry(index, "0x1").size, 10);
    const UrlEntry missing = findPreviousEntry(index, "0x2");
    EXPECT_EQ(missing.size, 0);
    EXPECT_EQ(missing.delayPool, -1);
}

}  // namespace
}  // namespace reqwatch

namespace reqwatch {
namespace {

TEST(ActiveRequestsParser, APageBeyondTheRequestLimitIsRefused) {
    SampleState state;
    const FetchSettings settings{"proxy", 3128, "", false, nullptr};
    ActiveRequestsParser parser(state, settings, 3);
    for (int i = 0; i < 3; ++i) {
        parser.parseLine("Connection: 0x" + std::to_string(i));
        parser.parseLine("remote: 10.0.0.1:" + std::to_string(i));
    }
    parser.parseLine("Connection: 0x9");
    try {
        parser.parseLine("remote: 10.0.0.2:9");
        FAIL() << "a fourth request was taken";
    } catch (const sqstatException& error) {
        EXPECT_EQ(error.kind, sqstatException::TransportFailed);
        EXPECT_STREQ(error.what(), "More than 3 active requests in the reply from proxy:3128");
    }
}

}  // namespace
}  // namespace reqwatch
