// Several proxies in one once-only run, through the real executable: three
// fake cache managers, one that never answers and one that refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "support/fake_cache_manager.h"
#include "support/openmetrics_check.h"
#include "support/page_text.h"
#include "support/process.h"

namespace reqwatch {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testsupport::cacheManagerReply;
using testsupport::FakeCacheManager;
using testsupport::FakeReply;
using testsupport::requestBlock;
using testsupport::runReqwatch;

class SeveralProxies : public ::testing::Test {
  protected:
    SeveralProxies() {
        first.setReply({cacheManagerReply(
            requestBlock("0x1", "10.0.0.1:5", "http://a/one", "204800", "2.0", "alice") +
            requestBlock("0x2", "10.0.0.2:6", "http://a/two", "102400", "1.0"))});
        // The same id and a client of the first proxy: they stay apart.
        second.setReply({cacheManagerReply(
            requestBlock("0x1", "10.0.0.2:7", "http://b/three", "409600", "4.0"))});
        FakeReply silent;
        silent.hang = true;
        hanging.setReply(silent);
        int port;
        {
            FakeCacheManager closed;
            port = closed.port();
        }
        refusedPort = std::to_string(port);
    }
    std::string list() const {
        return "127.0.0.1:" + std::to_string(first.port()) +
               ",127.0.0.1:" + std::to_string(hanging.port()) + ",127.0.0.1:" + refusedPort +
               ",127.0.0.1:" + std::to_string(second.port());
    }

    FakeCacheManager first;
    FakeCacheManager second;
    FakeCacheManager hanging;
    std::string refusedPort;
};

TEST_F(SeveralProxies, TheReportHasASectionPerProxyAndTheTotals) {
    const auto started = std::chrono::steady_clock::now();
    const auto result = runReqwatch({"--once", "-n", "--timeout", "1", "-h", list()});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << "fetched one after the other";
    const std::string a = "127.0.0.1:" + std::to_string(first.port());
    const std::string h = "127.0.0.1:" + std::to_string(hanging.port());
    const std::string r = "127.0.0.1:" + refusedPort;
    const std::string b = "127.0.0.1:" + std::to_string(second.port());
    EXPECT_EQ(result.status, 1);  // not every proxy answered
    EXPECT_EQ(result.err, "Timed out after 1 s waiting for " + h +
                              "\nConnection refused while connecting to " + r + "\n");
    EXPECT_EQ(result.out,
              "\nProxy " + a +
                  "\nActive connections: 2, active hosts: 2, average speed: 200.0 KB/s\n\n"
                  "  Host: 10.0.0.1; User: alice (size: 200KB, average speed: 100.0 KB/s)\n"
                  "    http://a/one\n\n"
                  "  Host: 10.0.0.2 (size: 100KB, average speed: 100.0 KB/s)\n"
                  "    http://a/two\n\n"
                  "Proxy " +
                  h + "\nTimed out after 1 s waiting for " + h +
                  "\n\n"
                  "Proxy " +
                  r + "\nConnection refused while connecting to " + r +
                  "\n\n"
                  "Proxy " +
                  b +
                  "\nActive connections: 1, active hosts: 1, average speed: 100.0 KB/s\n\n"
                  "  Host: 10.0.0.2 (size: 400KB, average speed: 100.0 KB/s)\n"
                  "    http://b/three\n\n"
                  "All proxies: active connections: 3, active hosts: 2, average speed: 300.0 "
                  "KB/s\n\n");
}

TEST_F(SeveralProxies, AFilterThatMatchesNobodyLeavesOneEmptyLineBetweenSections) {
    const std::string a = "127.0.0.1:" + std::to_string(first.port());
    const std::string b = "127.0.0.1:" + std::to_string(second.port());
    for (const bool brief : {false, true}) {
        std::vector<std::string> arguments{"--once", "-n", "-u", "nobody", "-h", a + "," + b};
        if (brief) {
            arguments.push_back("-b");
        }
        const auto result = runReqwatch(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "\nProxy " + a + "\n\nProxy " + b + "\n\n\n") << brief;
    }
}

TEST_F(SeveralProxies, EveryJsonLineAndEverySeriesCarriesItsProxy) {
    const auto json =
        runReqwatch({"--once", "-n", "--timeout", "1", "--format", "json", "-h", list()});
    const auto lines = [&] {
        std::vector<std::string> found;
        std::size_t start = 0;
        for (auto end = json.out.find('\n'); end != std::string::npos;
             start = end + 1, end = json.out.find('\n', start)) {
            found.push_back(json.out.substr(start, end - start));
        }
        return found;
    }();
    ASSERT_EQ(lines.size(), 2u) << json.out;
    EXPECT_THAT(lines[0], HasSubstr("{\"proxy\":{\"host\":\"127.0.0.1\",\"port\":" +
                                    std::to_string(first.port()) + "}"));
    EXPECT_THAT(lines[0], HasSubstr("\"requestCount\":2,\"clientCount\":2"));
    EXPECT_THAT(lines[1], HasSubstr("{\"proxy\":{\"host\":\"127.0.0.1\",\"port\":" +
                                    std::to_string(second.port()) + "}"));
    EXPECT_THAT(lines[1], HasSubstr("\"requestCount\":1,\"clientCount\":1"));

    const auto metrics =
        runReqwatch({"--once", "-n", "--timeout", "1", "--format", "openmetrics", "-h", list()});
    const auto exposition = testsupport::readExposition(metrics.out);
    EXPECT_THAT(exposition.errors, ::testing::IsEmpty()) << metrics.out;
    const auto up = [&](const std::string& port) {
        return exposition.samples.at("reqwatch_proxy_up{proxy=\"127.0.0.1:" + port + "\"}");
    };
    EXPECT_EQ(up(std::to_string(first.port())), "1");
    EXPECT_EQ(up(std::to_string(hanging.port())), "0");
    EXPECT_EQ(up(refusedPort), "0");
    EXPECT_EQ(up(std::to_string(second.port())), "1");
    // The client of both proxies has a series with each.
    const std::string client = ",client=\"10.0.0.2\"}";
    EXPECT_EQ(exposition.samples.at("reqwatch_client_size_bytes{proxy=\"127.0.0.1:" +
                                    std::to_string(first.port()) + "\"" + client),
              "102400");
    EXPECT_EQ(exposition.samples.at("reqwatch_client_size_bytes{proxy=\"127.0.0.1:" +
                                    std::to_string(second.port()) + "\"" + client),
              "409600");
    for (const auto& [key, value] : exposition.samples) {
        EXPECT_THAT(key, HasSubstr("{proxy=\"127.0.0.1:")) << "a series without its proxy";
    }
}

TEST(ProxyList, BadEntriesEndBeforeAnyConnection) {
    FakeCacheManager server;
    const std::string port = std::to_string(server.port());
    struct Case {
        std::string hosts;
        std::string err;
    };
    const Case cases[] = {
        {"127.0.0.1,", "Unknown host - an empty entry in the list\n"},
        {"a,,b", "Unknown host - an empty entry in the list\n"},
        {":3128", "Unknown host - no host before the port in ':3128'\n"},
        {"127.0.0.1:", "Unknown port - no port after the host in '127.0.0.1:'\n"},
        {"127.0.0.1:70000", "Unknown port - Port should be from 1 to 65535\n"},
        {"[::1", "Unknown host - '[::1' has no closing bracket\n"},
        {"127.0.0.1:" + port + ",127.0.0.1",
         "Unknown host - 127.0.0.1:" + port + " is in the list twice\n"},
    };
    for (const auto& item : cases) {
        const auto result = runReqwatch({"--once", "-p", port, "-h", item.hosts});
        EXPECT_EQ(result.status, 1) << item.hosts;
        EXPECT_EQ(result.err, item.err) << item.hosts;
    }
    EXPECT_EQ(server.connectionCount(), 0u);
    // One entry with a port of its own.
    server.setReply({cacheManagerReply("")});
    EXPECT_EQ(runReqwatch({"--once", "-p", "1", "-h", "127.0.0.1:" + port}).status, 0);
}

}  // namespace
}  // namespace reqwatch
