// The once-only run against proxies that misbehave: every fault gives its
// message (or a clean report), never a crash, a hang or unbounded memory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "support/fake_cache_manager.h"
#include "support/page_text.h"
#include "support/process.h"

namespace reqwatch {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testsupport::cacheManagerReply;
using testsupport::FakeCacheManager;
using testsupport::FakeReply;
using testsupport::requestBlock;

std::string randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(random() & 0xff);
    }
    return bytes;
}

struct Fault {
    std::string name;
    FakeReply reply;
    int status;
    std::string out;  // the whole standard output, or a prefix with "..."
    std::string err;  // the whole standard error, or a prefix with "..."
};

void expectText(const std::string& actual, const std::string& expected, const std::string& name) {
    if (expected.size() >= 3 && expected.compare(expected.size() - 3, 3, "...") == 0) {
        EXPECT_THAT(actual, StartsWith(expected.substr(0, expected.size() - 3))) << name;
    } else {
        EXPECT_EQ(actual, expected) << name;
    }
}

TEST(OnceRunFaults, EveryFaultHasItsMessageAndStatus) {
    const std::string twoRequests = requestBlock("0x1", "10.0.0.1:1", "http://a/", "5000", "1.0") +
                                    requestBlock("0x2", "10.0.0.2:1", "http://b/", "3000", "1.0");
    const std::string page = cacheManagerReply(twoRequests);
    FakeReply cutMidLine{page + "Connection: 0x3\n\tremote: 10.0.0.3:1\nuri http://cu"};
    FakeReply reset{page};
    reset.reset = true;
    reset.cutAfter = page.size() - 100;
    FakeReply greeting{"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n"};
    greeting.greetFirst = true;
    const std::string twoHosts =
        "\nActive connections: 2, active hosts: 2, average speed: 7.8 KB/s\n\n";
    const Fault faults[] = {
        {"a reply cut off mid-line", cutMidLine, 0,
         "\nActive connections: 3, active hosts: 3, average speed: 7.8 KB/s\n\n"
         "  Host: 10.0.0.1 (size: 4KB, average speed: 4.9 KB/s)\n    http://a/\n\n"
         "  Host: 10.0.0.2 (size: 2KB, average speed: 2.9 KB/s)\n    http://b/\n\n"
         "  Host: 10.0.0.3\n    \n\n\n",
         ""},
        {"a connection reset mid-page", reset, 1, "", "Connection reset by peer\n"},
        {"a refused password",
         {"HTTP/1.1 401 Unauthorized\r\nServer: squid/5.7\r\n\r\n"},
         1,
         "",
         "Access to squid statistic denied: HTTP/1.1 401 Unauthorized\n"},
        {"a proxy that wants a login",
         {"HTTP/1.1 407 Proxy Authentication Required\r\n\r\n"},
         1,
         "",
         "Access to squid statistic denied: HTTP/1.1 407 Proxy Authentication Required\n"},
        {"a greeting of another protocol", greeting, 1, "",
         "Access to squid statistic denied: SSH-2.0-OpenSSH_9.2p1 Debian-2\n"},
        {"a line with the wrong number of words",
         {cacheManagerReply(twoRequests + "start 1796896696.3 (2.0 seconds ago) extra\n")},
         1,
         "",
         "Warning!!! Please send bug report. active_requests format changed - 'start "
         "1796896696.3 (2.0 seconds ago) extra'. squid/5.7. reqwatch-2015-02-08\n"},
        {"random bytes", {randomBytes(1 << 20, 7)}, 1, "", "Access to squid statistic denied: ..."},
        {"random bytes after a good status line",
         {"HTTP/1.1 200 OK\r\n" + randomBytes(1 << 20, 8)},
         0,
         "\nActive connections: 0, active hosts: 0\n\n\n",
         ""},
        {"a complete page", {page}, 0, twoHosts + "...", ""},
    };
    for (const auto& fault : faults) {
        FakeCacheManager server;
        server.setReply(fault.reply);
        const auto result =
            testsupport::runReqwatch({"--once", "-n", "-p", std::to_string(server.port())});
        EXPECT_EQ(result.status, fault.status) << fault.name;
        expectText(result.out, fault.out, fault.name);
        expectText(result.err, fault.err, fault.name);
    }
}

TEST(OnceRunFaults, HugeRepliesAreReadInBoundedMemory) {
    // A few MiB for the program, a 256 KiB read block and a line of at most
    // 1 MiB; the sanitizers' own bookkeeping comes on top in their builds.
    const long peakLimitKb =
        std::getenv("ASAN_OPTIONS") != nullptr || REQWATCH_SANITIZED ? 200 * 1024 : 40 * 1024;
    struct Case {
        std::string name;
        std::string reply;
    };
    const Case cases[] = {
        {"64 MiB of random bytes", "HTTP/1.1 200 OK\r\n" + randomBytes(64u << 20, 9)},
        {"a 50 MB line without a newline", "HTTP/1.1 200 OK\r\nuri " + std::string(50000000, 'u')},
        {"a 50 MB first line", std::string(50000000, 'H')},
    };
    for (const auto& item : cases) {
        FakeCacheManager server;
        server.setReply({item.reply});
        long peakKb = 0;
        const auto result = testsupport::runReqwatchMeasured(
            {"-o", "-n", "-p", std::to_string(server.port())}, peakKb);
        EXPECT_GT(peakKb, 0) << item.name;
        EXPECT_LT(peakKb, peakLimitKb) << item.name;
        EXPECT_TRUE(result.status == 0 || result.status == 1) << item.name;
        if (result.status == 1) {
            // The first line is cut at 1 MiB, also in the message.
            EXPECT_LE(result.err.size(), (1u << 20) + 64) << item.name;
        }
    }
}

}  // namespace
}  // namespace reqwatch
