// The fetch and the once-only report against a real Squid that serves three
// throttled downloads from two logged-in users on 127.0.0.1.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cachemgr/active_requests_query.h"
#include "support/origin_server.h"
#include "support/process.h"
#include "support/squid_proxy.h"
#include "support/squid_suite.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace reqwatch {
namespace {

using testsupport::ChildProcess;
using testsupport::OriginServer;
using testsupport::SquidProxy;

constexpr auto sampleGap = std::chrono::seconds(3);
constexpr auto downloadsStartTimeout = std::chrono::seconds(20);

struct Download {
    std::string path;
    std::size_t user;  // index into the proxy's users
};

const Download downloads[] = {{"/alice-1.bin", 0}, {"/alice-2.bin", 0}, {"/bob.bin", 1}};

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const Connection* findPeer(const ConnectionList& connections, const std::string& peer) {
    const auto found = std::find_if(connections.begin(), connections.end(),
                                    [&](const Connection& c) { return c.peer == peer; });
    return found == connections.end() ? nullptr : &*found;
}

const UrlEntry* findUrl(const Connection& connection, const std::string& uri) {
    const auto found = std::find_if(connection.urls.begin(), connection.urls.end(),
                                    [&](const UrlEntry& url) { return url.uri == uri; });
    return found == connection.urls.end() ? nullptr : &*found;
}

class RealSquid : public testsupport::SquidSuite<RealSquid> {
  public:
    static void startDownloads() {
        origin = std::make_unique<OriginServer>();
        squid = std::make_unique<SquidProxy>();
        for (const auto& download : downloads) {
            curls.push_back(startCurl(download.path, login(download), password(download)));
        }
        waitForDownloads();
    }

  protected:
    static const std::string& login(const Download& download) {
        return squid->settings().users.at(download.user).login;
    }
    static const std::string& password(const Download& download) {
        return squid->settings().users.at(download.user).password;
    }

    static ChildProcess startCurl(const std::string& path, const std::string& user,
                                  const std::string& pass) {
        // An empty --noproxy keeps a no_proxy variable from bypassing the proxy.
        return ChildProcess({"curl", "-s", "-o", "/dev/null", "--noproxy", "", "--proxy",
                             squid->proxyUrl(), "--proxy-user", user + ":" + pass,
                             origin->url(path)});
    }

    // The two logins of the downloads as the program reports them.
    static std::vector<std::string> expectedUsers() {
        return {lowerCase(squid->settings().users.at(0).login),
                lowerCase(squid->settings().users.at(1).login)};
    }

    static FetchSettings settings(const std::string& pass) {
        FetchSettings result;
        result.host = "127.0.0.1";
        result.port = squid->port();
        result.pass = pass;
        result.hostnameLookups = false;
        return result;
    }

    static FetchSettings managerSettings() { return settings(squid->settings().managerPassword); }

    // Until every download has sent its first bytes to its client.
    static void waitForDownloads() {
        const auto deadline = std::chrono::steady_clock::now() + downloadsStartTimeout;
        std::string seen;
        while (std::chrono::steady_clock::now() < deadline) {
            SampleState state;
            const auto sample = fetchActiveRequests(state, managerSettings());
            const Connection* client = findPeer(sample, "127.0.0.1");
            const bool allStarted =
                client != nullptr &&
                std::all_of(std::begin(downloads), std::end(downloads),
                            [&](const Download& download) {
                                const UrlEntry* url = findUrl(*client, origin->url(download.path));
                                return url != nullptr && url->size > 0;
                            });
            if (allStarted) {
                return;
            }
            seen.clear();
            for (const auto& connection : sample) {
                for (const auto& url : connection.urls) {
                    seen +=
                        "\n  " + connection.peer + " " + std::string(url.uri) + " " +
                        std::to_string(url.size);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        std::string running;
        for (auto& curl : curls) {
            running += curl.running() ? " running" : " ended";
        }
        throw std::runtime_error(
            "the downloads did not show up on the active_requests page; curl:" + running +
            "; last page:" + seen + "\n--- end of cache.log ---\n" + squid->cacheLogTail());
    }
};

TEST_F(RealSquid, TheProxyServesTheAskedSizeOnlyToKnownLogins) {
    const auto& alice = squid->settings().users.at(0);
    struct Case {
        std::string path;
        std::string credentials;
        std::string expected;  // HTTP status and body size, as curl reports them
    };
    const Case cases[] = {
        {"/file?size=12345", alice.login + ":" + alice.password, "200 12345"},
        {"/777.bin", alice.login + ":" + alice.password, "200 777"},
        {"/file?size=10", alice.login + ":wrong", "407"},
    };
    for (const auto& c : cases) {
        const auto result = testsupport::runCommand(
            {"curl", "-s", "-o", "/dev/null", "-w", "%{http_code} %{size_download}", "--noproxy",
             "", "--proxy", squid->proxyUrl(), "--proxy-user", c.credentials, origin->url(c.path)});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_THAT(result.out, ::testing::StartsWith(c.expected))
            << c.path << " " << c.credentials;
    }
}

TEST_F(RealSquid, TwoSamplesShowOneClientWithItsLoginsPoolsAndGrowingDownloads) {
    SampleState state;
    const ConnectionList first = fetchActiveRequests(state, managerSettings());
    std::this_thread::sleep_for(sampleGap);
    const ConnectionList second = fetchActiveRequests(state, managerSettings());

    for (const ConnectionList* sample : {&first, &second}) {
        ASSERT_EQ(sample->size(), 1u) << "every request comes from 127.0.0.1";
        const Connection& client = sample->front();
        EXPECT_EQ(client.peer, "127.0.0.1");
        EXPECT_THAT(client.users, ::testing::UnorderedElementsAreArray(expectedUsers()));
        // The page lists the cache manager's own request too, without a login
        // and outside the delay pool.
        ASSERT_EQ(client.urls.size(), std::size(downloads) + 1);
        const auto manager =
            std::find_if(client.urls.begin(), client.urls.end(), [](const UrlEntry& url) {
                return url.uri.find("active_requests") != std::string::npos;
            });
        ASSERT_NE(manager, client.urls.end());
        EXPECT_EQ(manager->user, "");
        EXPECT_EQ(manager->delayPool, 0);
    }

    const std::int64_t rate = squid->settings().bytesPerSecond;
    const auto gap = static_cast<std::int64_t>(sampleGap.count());
    for (const auto& download : downloads) {
        SCOPED_TRACE(download.path);
        const std::string uri = origin->url(download.path);
        const UrlEntry* before = findUrl(first.front(), uri);
        const UrlEntry* after = findUrl(second.front(), uri);
        ASSERT_NE(before, nullptr);
        ASSERT_NE(after, nullptr);
        for (const UrlEntry* url : {before, after}) {
            EXPECT_EQ(url->user, lowerCase(login(download)));
            EXPECT_EQ(url->delayPool, 1);
        }
        EXPECT_GT(before->size, 0);
        EXPECT_GT(after->size, before->size);
        EXPECT_GT(after->elapsed, before->elapsed);
        EXPECT_GT(after->averageSpeed, 0);
        EXPECT_EQ(before->currentSpeed, 0) << "a first sample has nothing to compare with";
        // The bytes of the gap over its length in whole seconds of the clock,
        // which is the gap or, when a second ticks in between, one more.
        const std::int64_t grown = after->size - before->size;
        EXPECT_GE(after->currentSpeed, grown / (gap + 1));
        EXPECT_LE(after->currentSpeed, grown / gap);
    }
    EXPECT_GT(second.front().currentSpeed, 0);
    // The delay pool is shared by all downloads; a full bucket at the start
    // of the gap may add up to one second's worth.
    EXPECT_LE(second.front().currentSpeed, rate * (gap + 2) / gap);
    EXPECT_EQ(state.totalCurrentSpeed, second.front().currentSpeed);
}

TEST_F(RealSquid, AWrongOrMissingPasswordIsRefusedWithTheProxysStatusLine) {
    for (const std::string& pass : {std::string(), squid->settings().managerPassword + "x"}) {
        SampleState state;
        try {
            fetchActiveRequests(state, settings(pass));
            ADD_FAILURE() << "no exception for password '" << pass << "'";
        } catch (const sqstatException& error) {
            EXPECT_EQ(error.kind, sqstatException::AccessDenied);
            EXPECT_THAT(error.what(), ::testing::MatchesRegex(
                                          "Access to squid statistic denied: HTTP/1\\.[01] 401 .*"))
                << "password '" << pass << "'";
        }
    }
}

TEST_F(RealSquid, AcceptsTheModernRequestPathAsWellAsTheLegacyUrl) {
    SampleState state;
    const auto settingsNow = settings(squid->settings().managerPassword);
    state.modernRequestEndpoint = settingsNow.host + ":" + std::to_string(settingsNow.port);
    const ConnectionList sample = fetchActiveRequests(state, settingsNow);
    ASSERT_FALSE(sample.empty());
    bool sawModern = false;
    for (const auto& url : sample.front().urls) {
        sawModern =
            sawModern || url.uri.find("/squid-internal-mgr/active_requests") != std::string::npos;
    }
    EXPECT_TRUE(sawModern) << "the page lists the request that asked for it";
    EXPECT_EQ(state.modernRequestEndpoint,
              settingsNow.host + ":" + std::to_string(settingsNow.port));
}

// The name the system gives 127.0.0.1 (from /etc/hosts), without its domain.
std::string loopbackName() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char name[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<sockaddr*>(&address), sizeof address, name, sizeof name,
                    nullptr, 0, NI_NAMEREQD) != 0) {
        return "127.0.0.1";
    }
    const std::string full = name;
    return full.substr(0, full.find('.'));
}

TEST_F(RealSquid, OnceReportListsTheClientWithItsLoginsAndEachDownload) {
    struct Case {
        std::vector<std::string> extraArguments;
        std::string host;
    };
    const std::string name = loopbackName();
    const Case cases[] = {
        {{"-n"}, "127.0.0.1"},
        {{}, name == "127.0.0.1" ? name : name + " [127.0.0.1]"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"--once",
                                              "-h",
                                              "127.0.0.1",
                                              "-p",
                                              std::to_string(squid->port()),
                                              "-P",
                                              squid->settings().managerPassword,
                                              "-d"};
        arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
        const auto result = testsupport::runReqwatch(arguments);
        SCOPED_TRACE(result.out);
        ASSERT_EQ(result.status, 0) << result.err;

        std::vector<std::string> lines;
        std::istringstream in(result.out);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        using ::testing::Contains;
        using ::testing::HasSubstr;
        using ::testing::MatchesRegex;
        const std::string host = std::regex_replace(c.host, std::regex("[.\\[\\]]"), "\\$&");
        const auto users = expectedUsers();
        EXPECT_THAT(lines, Contains(MatchesRegex("  Host: " + host + "; Users: (" + users[0] +
                                                 ", " + users[1] + "|" + users[1] + ", " +
                                                 users[0] + ")( \\(.*\\))?")));
        EXPECT_THAT(
            lines,
            Contains(HasSubstr("Active connections: " + std::to_string(std::size(downloads) + 1) +
                               ", active hosts: 1")));
        for (const auto& download : downloads) {
            const std::string line = "    " + origin->url(download.path) + " (size: ";
            EXPECT_THAT(lines, Contains(::testing::AllOf(
                                   ::testing::StartsWith(line),
                                   HasSubstr("user: " + lowerCase(login(download))))));
        }
    }
}

}  // namespace
}  // namespace reqwatch
