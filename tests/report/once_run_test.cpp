// The once-only run through the real executable.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/fake_cache_manager.h"
#include "support/isolated_run.h"
#include "support/page_text.h"
#include "support/process.h"

namespace reqwatch {
namespace {

using ::testing::HasSubstr;
using testsupport::cacheManagerReply;
using testsupport::FakeCacheManager;
using testsupport::IsolatedRun;
using testsupport::requestBlock;
using testsupport::runIsolated;
using testsupport::runReqwatch;

// A busy client with two downloads and a quiet one with one URL three times.
const std::string examplePage =
    requestBlock("0x10", "192.168.0.10:50000", "10.0.0.9:443", "5550097", "75.4", "Alice", "0") +
    requestBlock("0x11", "192.168.0.11:50001", "10.0.0.5:443", "100", "0.2", "-", "2") +
    requestBlock("0x12", "192.168.0.10:50002", "10.0.0.7:80", "800", "3.9", "alice", "0") +
    requestBlock("0x13", "192.168.0.11:50003", "10.0.0.5:443", "100", "0.0", "-", "2") +
    requestBlock("0x14", "192.168.0.11:50004", "10.0.0.5:443", "100", "0.9", "-", "2");

const std::string exampleHosts = "127.0.0.1 localhost\n192.168.0.10 ws10.office.example.org\n";

const std::string summary =
    "\nActive connections: 5, active hosts: 2, average speed: 72.5 KB/s\n\n";
const std::string busyHost = "  Host: ws10 [192.168.0.10]; User: alice";

class OnceRunExample : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testsupport::isolationAvailable()) {
            GTEST_SKIP() << "needs unshare and ip for a private network namespace";
        }
    }
    testsupport::RunResult run(const std::vector<std::string>& arguments) {
        IsolatedRun isolated;
        isolated.hostsFile = exampleHosts;
        isolated.replies = {cacheManagerReply(examplePage)};
        return runIsolated(isolated, arguments);
    }
};

TEST_F(OnceRunExample, PrintsTheReportByteForByte) {
    struct Case {
        std::vector<std::string> arguments;
        std::string output;
    };
    const Case cases[] = {
        {{"--once"},
         summary + busyHost +
             " (size: 5MB 300KB, average speed: 72.5 KB/s)\n    10.0.0.9:443\n    10.0.0.7:80\n\n"
             "  Host: 192.168.0.11\n    10.0.0.5:443 (count: 3)\n\n\n"},
        {{"-o", "--brief"},
         summary + busyHost +
             " (sessions: 2, size: 5MB 300KB, average speed: 72.5 KB/s)\n"
             "  Host: 192.168.0.11 (sessions: 1)\n\n"},
        {{"-o", "--users", "ALICE"},
         "\n" + busyHost +
             " (size: 5MB 300KB, average speed: 72.5 KB/s)\n    10.0.0.9:443\n    10.0.0.7:80\n\n"
             "\n"},
        {{"-o", "-H", "192.168.0.0/24", "-u", "nobody"}, "\n\n"},
        {{"-o", "-c"},
         summary + busyHost +
             " (size: 5MB 300KB, average speed: 72.5 KB/s)\n    10.0.0.9:443\n    10.0.0.7:80\n\n"
             "  Host: 192.168.0.11\n    10.0.0.5:443\n    10.0.0.5:443\n    10.0.0.5:443\n\n\n"},
        {{"-o", "-d"},
         summary + busyHost +
             " (size: 5MB 300KB, average speed: 72.5 KB/s)\n"
             "    10.0.0.9:443 (size: 5MB 300KB, average speed: 72.3 KB/s)\n"
             "    10.0.0.7:80 (average speed: 0.3 KB/s)\n\n"
             "  Host: 192.168.0.11\n    10.0.0.5:443 (count: 3)\n\n\n"},
        {{"-o", "-f"},
         summary + busyHost +
             " (sessions: 2, size: 5MB 300KB, average speed: 72.5 KB/s, max time: 1m 15s)\n"
             "    10.0.0.9:443 (size: 5MB 300KB, time: 1m 15s, average speed: 72.3 KB/s)\n"
             "    10.0.0.7:80 (time: 3s, average speed: 0.3 KB/s)\n\n"
             "  Host: 192.168.0.11 (sessions: 1)\n    10.0.0.5:443 (count: 3, delay_pool: "
             "2)\n\n\n"},
        {{"-o", "-z"},
         summary + busyHost +
             " (size: 5MB 300KB, average speed: 72.5 KB/s)\n    10.0.0.9:443\n    10.0.0.7:80\n\n"
             "  Host: 192.168.0.11 (size: 0KB, average speed: 0.0 KB/s)\n"
             "    10.0.0.5:443 (count: 3)\n\n\n"},
        {{"-o", "-S", "-b"},
         summary +
             "  Host: ws10.office.example.org [192.168.0.10]; User: alice (sessions: 2, size: "
             "5MB 300KB, average speed: 72.5 KB/s)\n  Host: 192.168.0.11 (sessions: 1)\n\n"},
        {{"-o", "-n", "-b"},
         summary +
             "  Host: 192.168.0.10; User: alice (sessions: 2, size: 5MB 300KB, average speed: "
             "72.5 KB/s)\n  Host: 192.168.0.11 (sessions: 1)\n\n"},
    };
    for (const auto& item : cases) {
        const auto result = run(item.arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, item.output) << ::testing::PrintToString(item.arguments);
    }
}

TEST(OnceRun, TheUserLocaleChangesNoNumber) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply(examplePage)});
    const std::vector<std::string> arguments{"-o", "-n", "-b", "-p", std::to_string(server.port())};
    const auto classic = runReqwatch(arguments);
    const auto grouping = runReqwatch(arguments, {{"LC_ALL", "de_DE.UTF-8"}});
    EXPECT_EQ(classic.status, 0);
    EXPECT_THAT(classic.out, HasSubstr("average speed: 72.5 KB/s"));
    EXPECT_EQ(grouping.out, classic.out);
}

TEST(OnceRun, ReadsTheRealProxyPage) {
    FakeCacheManager server;
    server.setReply({testsupport::readFixture("squid-5.7-active_requests.txt")});
    const auto result = runReqwatch({"--once", "-n", "-d", "-p", std::to_string(server.port())});
    EXPECT_EQ(result.status, 0) << result.err;
    // file2 and file3 have the same size, so their order is open.
    const std::string head =
        "\nActive connections: 8, active hosts: 1, average speed: 1.43 MB/s\n\n"
        "  Host: 127.0.0.1 (size: 7MB 821KB, average speed: 1.43 MB/s)\n"
        "    http://127.0.0.1:18080/file1.bin (count: 3, size: 3MB 717KB, "
        "average speed: 210.5 KB/s)\n";
    const std::string file2 =
        "    http://127.0.0.1:18080/file2.bin (count: 2, size: 2MB 52KB, "
        "average speed: 210.0 KB/s)\n";
    const std::string file3 =
        "    http://127.0.0.1:18080/file3.bin (count: 2, size: 2MB 52KB, "
        "average speed: 210.0 KB/s)\n";
    const std::string tail = "    cache_object://localhost/active_requests\n\n\n";
    EXPECT_THAT(result.out,
                ::testing::AnyOf(head + file2 + file3 + tail, head + file3 + file2 + tail));
}

TEST(OnceRun, FailuresGoToStandardErrorWithStatusOne) {
    FakeCacheManager refusing;
    refusing.setReply({"HTTP/1.1 401 Unauthorized\r\nServer: squid/5.7\r\n\r\n"});
    const auto denied = runReqwatch({"-o", "-P", "wrong", "-p", std::to_string(refusing.port())});
    EXPECT_EQ(denied.status, 1);
    EXPECT_EQ(denied.out, "");
    EXPECT_EQ(denied.err, "Access to squid statistic denied: HTTP/1.1 401 Unauthorized\n");

    int closedPort;
    {
        FakeCacheManager closed;
        closedPort = closed.port();
    }
    const auto unreachable = runReqwatch({"--once", "-p", std::to_string(closedPort)});
    EXPECT_EQ(unreachable.status, 1);
    EXPECT_EQ(unreachable.out, "");
    EXPECT_EQ(unreachable.err, "Connection refused while connecting to 127.0.0.1:" +
                                   std::to_string(closedPort) + "\n");
}

TEST(OnceRun, AProxyWithoutRequestsPrintsTheEmptyReport) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply("")});
    const auto result = runReqwatch({"-o", "-p", std::to_string(server.port())});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\nActive connections: 0, active hosts: 0\n\n\n");
}

TEST(OnceRun, AnUnresolvableProxyNameIsAConnectFailure) {
    if (!testsupport::isolationAvailable()) {
        GTEST_SKIP() << "needs a private network namespace to keep the lookup local";
    }
    IsolatedRun isolated;
    isolated.replies = {cacheManagerReply("")};
    // The -h given here overrides the one the isolated run puts first.
    const auto result = runIsolated(isolated, {"-o", "-h", "no-such-proxy.invalid"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_THAT(result.err,
                ::testing::MatchesRegex(".+ while connecting to no-such-proxy\\.invalid:[0-9]+\n"));
}

TEST(OnceRun, AStartInTheFutureCountsAsNoTimeAtAll) {
    // A proxy whose clock stepped back: "-100.5 seconds ago".
    FakeCacheManager server;
    server.setReply(
        {cacheManagerReply(requestBlock("0x1", "10.0.0.1:5", "http://a/", "500000", "-100.5") +
                           requestBlock("0x2", "10.0.0.1:6", "http://b/", "204800", "2.0"))});
    const auto result = runReqwatch({"-o", "-n", "-f", "-p", std::to_string(server.port())});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "\nActive connections: 2, active hosts: 1, average speed: 100.0 KB/s\n\n"
              "  Host: 10.0.0.1 (sessions: 2, size: 688KB, average speed: 100.0 KB/s, max time: "
              "2s)\n"
              "    http://a/ (size: 488KB)\n"
              "    http://b/ (size: 200KB, time: 2s, average speed: 100.0 KB/s)\n\n\n");
}

TEST(OnceRun, OnlyPrintableBytesReachTheReport) {
    // DEL (0x7f) and the unit separator (0x1f) are dropped with the other
    // control and high bytes, in the page's texts as in its numbers.
    FakeCacheManager server;
    server.setReply({cacheManagerReply(requestBlock("0x1", "10.0.0.1:5",
                                                    "http://a/\x7f\x1fx\x1b[2J\x80y", "5000", "1.0",
                                                    "bo\x7f"
                                                    "b"))});
    const auto result = runReqwatch({"-o", "-n", "-d", "-p", std::to_string(server.port())});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Host: 10.0.0.1; User: bob (size: 4KB"));
    EXPECT_THAT(result.out, HasSubstr("    http://a/x[2Jy (size: 4KB"));
    for (const char c : result.out) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7e)) << "byte " << int(c);
    }
}

TEST(OnceRun, ReachesAProxyByIpv6AndTriesEveryAddressOfAName) {
    FakeCacheManager server(0, true);  // on ::1 only
    server.setReply({cacheManagerReply(requestBlock("0x1", "[::1]:5", "http://a/", "5000", "1"))});
    const std::string port = std::to_string(server.port());
    for (const std::string host : {"::1", "[::1]"}) {
        const auto result = runReqwatch({"-o", "-n", "-b", "-h", host, "-p", port});
        EXPECT_EQ(result.status, 0) << host << ": " << result.err;
        EXPECT_THAT(result.out, HasSubstr("  Host: [::1] (sessions: 1, size: 4KB"));
    }
    // Nothing listens on [::1] at this port: a refusal, named as given.
    FakeCacheManager other;
    const auto refused = runReqwatch({"-o", "-h", "[::1]", "-p", std::to_string(other.port())});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Connection refused while connecting to [::1]:" +
                               std::to_string(other.port()) + "\n");
    if (!testsupport::isolationAvailable()) {
        GTEST_SKIP() << "needs a private network namespace for a name with several addresses";
    }
    // A name with an address that refuses (::1, first by the system's order)
    // and one that answers (127.0.0.1, where the isolated run's fake listens).
    IsolatedRun isolated;
    isolated.hostsFile = "::1 several.example\n127.0.0.1 several.example\n";
    isolated.replies = {
        cacheManagerReply(requestBlock("0x1", "10.0.0.1:5", "http://a/", "5000", "1"))};
    const auto several = runIsolated(isolated, {"-o", "-n", "-b", "-h", "several.example"});
    EXPECT_EQ(several.status, 0) << several.err;
    EXPECT_THAT(several.out, HasSubstr("  Host: 10.0.0.1 (sessions: 1, size: 4KB"));
}

}  // namespace
}  // namespace reqwatch
