// reqwatch watching two real Squids at once. Throttled downloads from four
// loopback addresses go through the two proxies, 127.0.0.3 through both;
// reqwatch reads each proxy through a relay of its own, so that every
// section, JSON line and screen heading can be held against the very page
// that proxy served, counted with logic of our own (support/page_count.h).
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/origin_server.h"
#include "support/page_count.h"
#include "support/process.h"
#include "support/recording_relay.h"
#include "support/squid_proxy.h"
#include "support/squid_suite.h"
#include "support/temporary_folder.h"
#include "support/terminal_run.h"
#include "support/tmux_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace reqwatch {
namespace {

using namespace std::chrono_literals;
using testsupport::bodyOf;
using testsupport::countPage;
using testsupport::lines;
using testsupport::OriginServer;
using testsupport::PageCount;
using testsupport::RecordingRelay;
using testsupport::SquidProxy;
using testsupport::TmuxSession;

constexpr std::size_t proxyCount = 2;
constexpr auto downloadsStartTimeout = 30s;

struct Download {
    int address;        // 127.0.0.N
    std::size_t proxy;  // 0 or 1
    std::size_t user;   // index into the proxies' users
};

// 127.0.0.3 downloads through both proxies: one client in both sections.
// The proxies have different numbers of requests and clients, so that one's
// counts cannot pass for the other's.
const Download downloads[] = {{2, 0, 0}, {2, 0, 1}, {3, 0, 0}, {3, 1, 1},
                              {4, 1, 0}, {4, 1, 1}, {5, 1, 0}};

std::string sourceAddress(const Download& download) {
    return "127.0.0." + std::to_string(download.address);
}

std::string downloadPath(std::size_t index) {
    // The origin's default size, which outlasts the suite by far.
    return "/proxy" + std::to_string(downloads[index].proxy) + "/" + std::to_string(index);
}

std::string escaped(const std::string& text) {
    return std::regex_replace(text, std::regex("[.\\[\\]()+*?^$|\\\\{}]"), "\\$&");
}

std::string loopback(int port) {
    return "127.0.0.1:" + std::to_string(port);
}

// A report's or a screen's "Proxy ..." lines, each with the line below it
// and the clients listed under it ("  Host: ADDRESS..." rows, -n) with their
// URLs (the rows below, indented by four).
struct ShownProxy {
    std::string heading;
    std::string nextLine;
    std::map<std::string, std::set<std::string>> urlsByClient;
    std::size_t hostRows = 0;
};

std::vector<ShownProxy> shownProxies(const std::vector<std::string>& rows) {
    std::vector<ShownProxy> shown;
    std::set<std::string>* urls = nullptr;  // of the client being listed
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const std::string& text = rows[row];
        if (text.rfind("Proxy ", 0) == 0) {
            shown.push_back({text, row + 1 < rows.size() ? rows[row + 1] : "", {}, 0});
            urls = nullptr;
        } else if (!shown.empty() && text.rfind("  Host: ", 0) == 0) {
            const std::string client = text.substr(8, text.find_first_of("; ", 8) - 8);
            urls = &shown.back().urlsByClient[client];
            ++shown.back().hostRows;
        } else if (urls != nullptr && text.rfind("    ", 0) == 0) {
            urls->insert(text.substr(4, text.find(' ', 4) - 4));
        } else {
            urls = nullptr;
        }
    }
    return shown;
}

std::map<std::string, std::set<std::string>> urlsByClient(const PageCount& page) {
    std::map<std::string, std::set<std::string>> urls;
    for (const auto& request : page.everyRequest) {
        urls[request.client].insert(request.uri);
    }
    return urls;
}

// The counts of a summary line or heading after "active ": requests and
// clients, then the average speed unless it is zero.
std::string countsPattern(std::size_t requests, std::size_t clients) {
    return "connections: " + std::to_string(requests) +
           ", active hosts: " + std::to_string(clients) + "(, [^()]*)?";
}

class SquidPair : public testsupport::SquidSuite<SquidPair> {
  public:
    static void startDownloads() {
        origin = std::make_unique<OriginServer>();
        testsupport::SquidSettings settings;
        settings.clientNetwork = "127.0.0.0/8";
        squid = std::make_unique<SquidProxy>(settings);
        secondSquid = std::make_unique<SquidProxy>(settings);
        for (std::size_t index = 0; index < std::size(downloads); ++index) {
            const Download& download = downloads[index];
            const auto& user = settings.users.at(download.user);
            // An empty --noproxy keeps a no_proxy variable from bypassing the proxy.
            curls.emplace_back(std::vector<std::string>{
                "curl", "-s", "-o", "/dev/null", "--noproxy", "", "--interface",
                sourceAddress(download), "--proxy", proxy(download.proxy).proxyUrl(),
                "--proxy-user", user.login + ":" + user.password,
                origin->url(downloadPath(index))});
        }
        waitForDownloads();
    }

    // The downloads end before their proxies, and neither proxy leaves
    // anything behind.
    static void TearDownTestSuite() {
        curls.clear();
        if (secondSquid) {
            secondSquid->stop();
            EXPECT_EQ(secondSquid->leftovers(), "");
        }
        secondSquid.reset();
        SquidSuite::TearDownTestSuite();
    }

  protected:
    static SquidProxy& proxy(std::size_t index) { return index == 0 ? *squid : *secondSquid; }

    // A proxy's page as curl fetches it (without the header), not through reqwatch.
    static std::string fetchPage(std::size_t index) {
        return testsupport::runCommand(
                   {"curl", "-s", "--noproxy", "", "-u", "admin:" + managerPassword(),
                    proxy(index).proxyUrl() + "/squid-internal-mgr/active_requests"})
            .out;
    }

    // The downloads the page shows with bytes sent, from their address, if
    // all of them were sent to this proxy; 0 when the page shows one of the
    // other proxy's.
    static std::size_t downloadsOn(std::size_t index, const PageCount& page) {
        std::size_t count = 0;
        for (const auto& request : page.everyRequest) {
            for (std::size_t download = 0; download < std::size(downloads); ++download) {
                if (request.uri != origin->url(downloadPath(download))) {
                    continue;
                }
                if (downloads[download].proxy != index) {
                    return 0;
                }
                count += request.client == sourceAddress(downloads[download]) && request.bytes > 0
                             ? 1
                             : 0;
            }
        }
        return count;
    }

    static std::size_t downloadsThrough(std::size_t index) {
        return static_cast<std::size_t>(
            std::count_if(std::begin(downloads), std::end(downloads),
                          [index](const Download& download) { return download.proxy == index; }));
    }

    static void waitForDownloads() {
        const auto deadline = std::chrono::steady_clock::now() + downloadsStartTimeout;
        for (std::size_t index = 0; index < proxyCount; ++index) {
            for (;;) {
                const std::string page = fetchPage(index);
                if (downloadsOn(index, countPage(page)) == downloadsThrough(index)) {
                    break;
                }
                if (std::chrono::steady_clock::now() > deadline) {
                    throw std::runtime_error("the downloads did not all show on proxy " +
                                             std::to_string(index) + "'s page\n" + page +
                                             "--- end of cache.log ---\n" +
                                             proxy(index).cacheLogTail());
                }
                std::this_thread::sleep_for(200ms);
            }
        }
    }

    // The last page a relay passed on to reqwatch, once its connections
    // have ended cleanly; checked to be the page of its proxy: every one of
    // that proxy's downloads and none of the other's, and reqwatch's own
    // request from 127.0.0.1.
    static PageCount servedPage(const RecordingRelay& relay, std::size_t index) {
        SCOPED_TRACE("proxy " + std::to_string(index));
        EXPECT_TRUE(relay.waitUntilIdle(5s));
        EXPECT_EQ(relay.completedCount(), relay.connectionCount());
        const auto replies = relay.replies();
        if (replies.empty()) {
            ADD_FAILURE() << "the relay passed no reply on";
            return {};
        }
        const std::string& reply = replies.back();
        EXPECT_THAT(reply.substr(0, reply.find('\n')),
                    ::testing::MatchesRegex("HTTP/1\\.[01] 200 OK\r"));
        const PageCount page = countPage(bodyOf(reply));
        EXPECT_EQ(downloadsOn(index, page), downloadsThrough(index));
        std::set<std::string> clients{"127.0.0.1"};
        for (const auto& download : downloads) {
            if (download.proxy == index) {
                clients.insert(sourceAddress(download));
            }
        }
        EXPECT_EQ(page.clients, clients);
        std::cout << "proxy " << index << " served " << page.requests << " requests from "
                  << page.clients.size() << " clients\n";
        return page;
    }

    // A relay in front of each proxy.
    static std::vector<std::unique_ptr<RecordingRelay>> relayPerProxy() {
        std::vector<std::unique_ptr<RecordingRelay>> made;
        for (std::size_t index = 0; index < proxyCount; ++index) {
            made.push_back(std::make_unique<RecordingRelay>(proxy(index).port()));
        }
        return made;
    }

    static std::string managerPassword() { return squid->settings().managerPassword; }

    static inline std::unique_ptr<SquidProxy> secondSquid;
};

TEST_F(SquidPair, OnceReportHasEachProxysCountsAndClientsAndTotalsOverBoth) {
    constexpr int down = -1;  // a port nothing listens on
    struct Case {
        std::string name;
        std::vector<int> entries;  // of -h: a proxy by index, or down
        bool lastPortFromP;        // the last entry without a port, which -p gives
    };
    const Case cases[] = {
        {"in list order", {0, 1}, false},
        {"in the other order", {1, 0}, false},
        {"the last entry's port from -p", {0, 1}, true},
        {"the first proxy down", {down, 1}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<RecordingRelay>> relays;
        std::vector<int> ports;
        std::string hosts;
        std::vector<std::string> arguments = {"--once", "-n", "-P", managerPassword()};
        for (std::size_t entry = 0; entry < c.entries.size(); ++entry) {
            const int index = c.entries[entry];
            relays.push_back(index == down ? nullptr
                                           : std::make_unique<RecordingRelay>(
                                                 proxy(static_cast<std::size_t>(index)).port()));
            ports.push_back(index == down ? testsupport::freeLoopbackPort()
                                          : relays.back()->port());
            hosts += (entry == 0 ? "" : ",") + loopback(ports.back());
            if (c.lastPortFromP && entry + 1 == c.entries.size()) {
                hosts.erase(hosts.rfind(':'));
                arguments.insert(arguments.end(), {"-p", std::to_string(ports.back())});
            }
        }
        arguments.insert(arguments.end(), {"-h", hosts});
        const auto result = testsupport::runReqwatch(arguments);
        const bool anyDown = std::count(c.entries.begin(), c.entries.end(), down) > 0;
        // A failed fetch of a single sample ends the run with status 1.
        EXPECT_EQ(result.status, anyDown ? 1 : 0) << result.err;
        const auto out = lines(result.out);
        const auto shown = shownProxies(out);
        ASSERT_EQ(shown.size(), c.entries.size()) << result.out;

        std::size_t requests = 0;
        std::set<std::string> clients;
        for (std::size_t entry = 0; entry < c.entries.size(); ++entry) {
            SCOPED_TRACE("entry " + std::to_string(entry));
            const ShownProxy& section = shown[entry];
            EXPECT_EQ(section.heading, "Proxy " + loopback(ports[entry])) << result.out;
            if (!relays[entry]) {
                // Its failure, the one line on standard error, and no clients.
                EXPECT_EQ(lines(result.err), std::vector<std::string>{section.nextLine});
                EXPECT_THAT(section.nextLine, ::testing::Not(::testing::HasSubstr("Active")));
                EXPECT_EQ(section.hostRows, 0u) << result.out;
                continue;
            }
            const PageCount page =
                servedPage(*relays[entry], static_cast<std::size_t>(c.entries[entry]));
            requests += page.requests;
            clients.insert(page.clients.begin(), page.clients.end());
            EXPECT_THAT(section.nextLine,
                        ::testing::MatchesRegex("Active " +
                                                countsPattern(page.requests, page.clients.size())))
                << result.out;
            // Each client once, with the URLs of all of its requests there.
            EXPECT_EQ(section.hostRows, page.clients.size()) << result.out;
            EXPECT_EQ(section.urlsByClient, urlsByClient(page)) << result.out;
        }
        // The totals: the requests of both, a client of both counted once.
        ASSERT_GE(out.size(), 2u);
        EXPECT_THAT(out[out.size() - 2],
                    ::testing::MatchesRegex("All proxies: active " +
                                            countsPattern(requests, clients.size())))
            << result.out;
        // One empty line, no more, before each section and before the
        // totals, and one after them.
        std::size_t headings = 0;
        for (std::size_t row = 0; row < out.size(); ++row) {
            if (out[row].rfind("Proxy ", 0) == 0 || out[row].rfind("All proxies: ", 0) == 0) {
                ++headings;
                EXPECT_TRUE(row >= 1 && out[row - 1].empty() && (row == 1 || !out[row - 2].empty()))
                    << "line " << row + 1 << " of\n"
                    << result.out;
            }
        }
        EXPECT_EQ(headings, c.entries.size() + 1);
        EXPECT_EQ(out.back(), "") << result.out;
    }
}

TEST_F(SquidPair, JsonHasALinePerProxyWithItsOwnCounts) {
    ASSERT_FALSE(testsupport::findProgram("jq").empty())
        << "the JSON lines are read with jq (scripts/install-deps installs it)";
    const auto relays = relayPerProxy();
    const auto result = testsupport::runReqwatch(
        {"--once", "-n", "--format", "json", "-h",
         loopback(relays[0]->port()) + "," + loopback(relays[1]->port()), "-P", managerPassword()});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto out = lines(result.out);
    ASSERT_EQ(out.size(), proxyCount) << result.out;
    testsupport::TemporaryFolder files;
    for (std::size_t index = 0; index < proxyCount; ++index) {
        SCOPED_TRACE("proxy " + std::to_string(index));
        const PageCount page = servedPage(*relays[index], index);
        // The proxy, its counts, and the URLs of each client.
        const auto read = testsupport::runCommand(
            {"jq", "-c", "-e",
             "[.proxy.host, .proxy.port, .requestCount, .clientCount,"
             " ([.clients[] | .address as $client | .requests[] | [$client, .uri]] | unique)]",
             files.writeFile("line.json", out[index])});
        ASSERT_EQ(read.status, 0) << read.err << out[index];
        std::string expected = "[\"127.0.0.1\"," + std::to_string(relays[index]->port()) + "," +
                               std::to_string(page.requests) + "," +
                               std::to_string(page.clients.size()) + ",[";
        std::string separator;
        for (const auto& [client, urls] : urlsByClient(page)) {
            for (const auto& url : urls) {
                expected += separator + "[\"" + client + "\",\"" + url + "\"]";
                separator = ",";
            }
        }
        EXPECT_EQ(read.out, expected + "]]\n") << out[index];
    }
}

TEST_F(SquidPair, TheLiveScreenHeadsEachProxyWithItsCountsAndTotalsBoth) {
    ASSERT_FALSE(testsupport::findProgram("tmux").empty())
        << "the live screen is run in tmux (scripts/install-deps installs it)";
    const auto relays = relayPerProxy();
    std::vector<std::string> headings;
    for (const auto& relay : relays) {
        headings.push_back("Proxy " + loopback(relay->port()));
    }
    // Whether the screen shows the pages the relays passed on last: each
    // proxy's heading with its counts above its clients, and the totals at
    // the bottom.
    constexpr int screenLines = 40;
    const auto showsLastPages = [&](const std::string& screen) {
        const auto rows = lines(screen);
        const auto proxies = shownProxies(rows);
        if (rows.size() != screenLines || proxies.size() != proxyCount) {
            return false;
        }
        std::size_t requests = 0;
        std::set<std::string> clients;
        for (std::size_t index = 0; index < proxyCount; ++index) {
            const auto replies = relays[index]->replies();
            if (replies.empty()) {
                return false;
            }
            const PageCount page = countPage(bodyOf(replies.back()));
            requests += page.requests;
            clients.insert(page.clients.begin(), page.clients.end());
            const std::regex heading(escaped(headings[index]) + " \\(active " +
                                     countsPattern(page.requests, page.clients.size()) + "\\)");
            if (!std::regex_match(proxies[index].heading, heading) ||
                proxies[index].hostRows != page.clients.size() ||
                proxies[index].urlsByClient != urlsByClient(page)) {
                return false;
            }
        }
        return std::regex_search(
            rows.back(),
            std::regex("Active hosts: " + std::to_string(clients.size()) +
                       "\\s+Active connections: " + std::to_string(requests) + "(\\s.*)?"));
    };
    testsupport::TemporaryFolder sanitizerLogs;
    {
        TmuxSession terminal(testsupport::reqwatchShellCommand(
                                 {"-n", "-r", "1", "-h",
                                  loopback(relays[0]->port()) + "," + loopback(relays[1]->port()),
                                  "-P", managerPassword()},
                                 sanitizerLogs),
                             160, screenLines);
        ASSERT_TRUE(terminal.waitFor(
            [&](const std::string& screen) {
                return std::all_of(headings.begin(), headings.end(), [&](const std::string& text) {
                    return screen.find(text + " (active connections: ") != std::string::npos;
                });
            },
            10s))
            << terminal.screen();
        // Refreshing stopped, the screen keeps the last sample of each
        // proxy: once the fetches under way have ended, the last pages the
        // relays passed on.
        terminal.type(" ");
        ASSERT_TRUE(terminal.waitForText("Statistics refreshing disabled")) << terminal.screen();
        for (const auto& relay : relays) {
            ASSERT_TRUE(relay->waitUntilIdle(5s));
        }
        std::string screen;
        EXPECT_TRUE(terminal.waitFor(
            [&](const std::string& now) {
                screen = now;
                return showsLastPages(now);
            },
            5s))
            << screen;
        for (std::size_t index = 0; index < proxyCount; ++index) {
            servedPage(*relays[index], index);
        }
        // Neither proxy is asked again while refreshing is stopped.
        std::vector<std::size_t> asked;
        for (const auto& relay : relays) {
            asked.push_back(relay->connectionCount());
        }
        std::this_thread::sleep_for(2500ms);
        for (std::size_t index = 0; index < proxyCount; ++index) {
            EXPECT_EQ(relays[index]->connectionCount(), asked[index]) << "proxy " << index;
        }
        testsupport::quitAndExpectCleanEnd(terminal);
    }
    EXPECT_EQ(testsupport::sanitizerReports(sanitizerLogs), "");
}

}  // namespace
}  // namespace reqwatch
