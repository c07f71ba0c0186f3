// reqwatch against a real Squid in SMP mode (workers 2), whose
// active_requests page holds a section per worker. Throttled downloads from
// three loopback addresses go through the workers' own ports, so that each
// worker serves known ones, and one address has downloads in both. The
// once-only report and the live screen are held against the very page they
// were served, counted with logic of our own (support/page_count.h).
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <iterator>
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
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::bodyOf;
using testsupport::countPage;
using testsupport::lines;
using testsupport::OriginServer;
using testsupport::PageCount;
using testsupport::PageRequest;
using testsupport::RecordingRelay;
using testsupport::SquidProxy;
using testsupport::TmuxSession;

constexpr int workerCount = 2;
constexpr auto downloadsStartTimeout = 30s;

struct Download {
    int address;       // 127.0.0.N
    int worker;        // sent to the port of this worker only
    std::size_t user;  // index into the proxy's users
};

// 127.0.0.3 has a download in each worker: one client on both sections.
const Download downloads[] = {{2, 1, 0}, {2, 1, 1}, {3, 1, 0}, {3, 2, 1}, {4, 2, 0}, {4, 2, 1}};

std::string sourceAddress(const Download& download) {
    return "127.0.0." + std::to_string(download.address);
}

std::string workerName(int worker) {
    return "kid" + std::to_string(worker);
}

std::string downloadPath(std::size_t index) {
    // The origin's default size, which outlasts the suite by far.
    return "/worker" + std::to_string(downloads[index].worker) + "/" + std::to_string(index);
}

// The requests of a worker's section; none when the page lacks it.
const std::vector<PageRequest>& sectionOf(const PageCount& page, int worker) {
    static const std::vector<PageRequest> none;
    const auto found = page.sections.find(workerName(worker));
    return found == page.sections.end() ? none : found->second;
}

std::set<std::string> clientsOf(const std::vector<PageRequest>& requests) {
    std::set<std::string> clients;
    for (const auto& request : requests) {
        clients.insert(request.client);
    }
    return clients;
}

class SquidWorkers : public testsupport::SquidSuite<SquidWorkers> {
  public:
    static void startDownloads() {
        origin = std::make_unique<OriginServer>();
        testsupport::SquidSettings settings;
        settings.workers = workerCount;
        settings.clientNetwork = "127.0.0.0/8";
        squid = std::make_unique<SquidProxy>(settings);
        for (std::size_t index = 0; index < std::size(downloads); ++index) {
            const Download& download = downloads[index];
            const auto& user = settings.users.at(download.user);
            // An empty --noproxy keeps a no_proxy variable from bypassing the proxy.
            curls.emplace_back(std::vector<std::string>{
                "curl", "-s", "-o", "/dev/null", "--noproxy", "", "--interface",
                sourceAddress(download), "--proxy",
                SquidProxy::proxyUrl(squid->workerPort(download.worker)), "--proxy-user",
                user.login + ":" + user.password, origin->url(downloadPath(index))});
        }
        waitForDownloads();
    }

  protected:
    // The page as curl fetches it (without the header), not through reqwatch.
    static std::string fetchPage() {
        return testsupport::runCommand({"curl", "-s", "--noproxy", "", "-u",
                                        "admin:" + managerPassword(),
                                        squid->proxyUrl() + "/squid-internal-mgr/active_requests"})
            .out;
    }

    // The downloads the page shows with bytes sent, from their address, in
    // the section of the worker whose port they were sent to.
    static std::size_t downloadsInTheirSections(const PageCount& page) {
        std::size_t count = 0;
        for (std::size_t index = 0; index < std::size(downloads); ++index) {
            const auto& section = sectionOf(page, downloads[index].worker);
            const std::string uri = origin->url(downloadPath(index));
            const std::string client = sourceAddress(downloads[index]);
            count += std::any_of(section.begin(), section.end(),
                                 [&](const PageRequest& request) {
                                     return request.uri == uri && request.client == client &&
                                            request.bytes > 0;
                                 })
                         ? 1
                         : 0;
        }
        return count;
    }

    static void waitForDownloads() {
        const auto deadline = std::chrono::steady_clock::now() + downloadsStartTimeout;
        std::string page;
        while (std::chrono::steady_clock::now() < deadline) {
            page = fetchPage();
            if (downloadsInTheirSections(countPage(page)) == std::size(downloads)) {
                return;
            }
            std::this_thread::sleep_for(200ms);
        }
        throw std::runtime_error("the downloads did not all show in their workers' sections\n" +
                                 page + "--- end of cache.log ---\n" + squid->cacheLogTail());
    }

    // What makes the page one of an SMP Squid, with both workers busy.
    static void expectBothWorkersServeTheirDownloads(const PageCount& page) {
        std::vector<std::string> sections;
        for (const auto& [name, requests] : page.sections) {
            sections.push_back(name);
        }
        EXPECT_THAT(sections, ElementsAre(workerName(1), workerName(2)));
        EXPECT_TRUE(page.sectionsWellFormed);
        EXPECT_EQ(downloadsInTheirSections(page), std::size(downloads));
        std::set<std::string> inBoth;
        const auto first = clientsOf(sectionOf(page, 1));
        const auto second = clientsOf(sectionOf(page, 2));
        std::set_intersection(first.begin(), first.end(), second.begin(), second.end(),
                              std::inserter(inBoth, inBoth.end()));
        EXPECT_FALSE(inBoth.empty()) << "no client has requests in both workers";
    }

    static std::string managerPassword() { return squid->settings().managerPassword; }
};

TEST_F(SquidWorkers, OnceReportCountsEveryWorkersRequestsAndEachClientOnce) {
    struct Case {
        std::string name;
        int port;
    };
    // In SMP mode a worker hands the cache manager request to the
    // coordinator, which gathers the sections of all workers: any port
    // answers with the whole page.
    const Case cases[] = {{"the shared port", squid->port()},
                          {"worker 1's port", squid->workerPort(1)},
                          {"worker 2's port", squid->workerPort(2)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingRelay relay(c.port);
        const auto result = testsupport::runReqwatch(
            {"--once", "-n", "-p", std::to_string(relay.port()), "-P", managerPassword()});
        ASSERT_EQ(result.status, 0) << result.err;
        ASSERT_TRUE(relay.waitUntilIdle(5s));
        ASSERT_GE(relay.completedCount(), 1u);
        ASSERT_EQ(relay.completedCount(), relay.connectionCount());
        const std::string reply = relay.replies().back();  // the one reqwatch reported on
        ASSERT_THAT(reply.substr(0, reply.find('\n')),
                    ::testing::MatchesRegex("HTTP/1\\.[01] 200 OK\r"));
        const PageCount page = countPage(bodyOf(reply));
        std::cout << c.name << ": " << page.requests << " requests from " << page.clients.size()
                  << " clients in " << page.sections.size() << " sections ("
                  << sectionOf(page, 1).size() << " + " << sectionOf(page, 2).size() << ")\n";
        expectBothWorkersServeTheirDownloads(page);

        const auto out = lines(result.out);
        // The average speed follows unless it is zero (all requests younger
        // than a second).
        EXPECT_THAT(out, ::testing::Contains(::testing::MatchesRegex(
                             "Active connections: " + std::to_string(page.requests) +
                             ", active hosts: " + std::to_string(page.clients.size()) + "(, .*)?")))
            << result.out;
        // Each client once, with the URLs of all its requests, whichever
        // worker serves them.
        for (const auto& client : page.clients) {
            SCOPED_TRACE(client);
            const std::regex host(
                "  Host: " + std::regex_replace(client, std::regex("\\."), "\\.") + "([; ].*)?");
            const auto count = std::count_if(out.begin(), out.end(), [&](const std::string& line) {
                return std::regex_match(line, host);
            });
            ASSERT_EQ(count, 1) << result.out;
            auto line = std::find_if(out.begin(), out.end(), [&](const std::string& text) {
                return std::regex_match(text, host);
            });
            std::set<std::string> listed;
            for (++line; line != out.end() && line->rfind("    ", 0) == 0; ++line) {
                listed.insert(line->substr(4, line->find(' ', 4) - 4));
            }
            std::set<std::string> requested;
            for (const auto& [worker, requests] : page.sections) {
                for (const auto& request : requests) {
                    if (request.client == client) {
                        requested.insert(request.uri);
                    }
                }
            }
            EXPECT_EQ(listed, requested) << result.out;
        }
    }
}

TEST_F(SquidWorkers, TheLiveScreenTotalsTheSampleItShows) {
    ASSERT_FALSE(testsupport::findProgram("tmux").empty())
        << "the live screen is run in tmux (scripts/install-deps installs it)";
    RecordingRelay relay(squid->port());
    testsupport::TemporaryFolder sanitizerLogs;
    constexpr int screenLines = 40;
    {
        TmuxSession terminal(
            testsupport::reqwatchShellCommand(
                {"-n", "-r", "1", "-p", std::to_string(relay.port()), "-P", managerPassword()},
                sanitizerLogs),
            160, screenLines);
        ASSERT_TRUE(terminal.waitForText("Host: 127.0.0.", 10s)) << terminal.screen();
        // Refreshing stopped, the screen keeps the last sample it took: once
        // a fetch under way has ended, the last page the relay passed on.
        terminal.type(" ");
        ASSERT_TRUE(terminal.waitForText("Statistics refreshing disabled")) << terminal.screen();
        ASSERT_TRUE(relay.waitUntilIdle(5s));
        ASSERT_GE(relay.completedCount(), 1u);
        ASSERT_EQ(relay.completedCount(), relay.connectionCount());
        PageCount page;
        std::string bottom;
        const bool totalled = terminal.waitFor(
            [&](const std::string& screen) {
                page = countPage(bodyOf(relay.replies().back()));
                const auto rows = lines(screen);
                bottom = rows.size() == screenLines ? rows.back() : "";
                const std::regex totals("Active hosts: " + std::to_string(page.clients.size()) +
                                        "\\s+Active connections: " + std::to_string(page.requests) +
                                        "(\\s.*)?");
                return std::regex_search(bottom, totals);
            },
            5s);
        EXPECT_TRUE(totalled) << "bottom line: " << bottom << "\npage: " << page.requests
                              << " requests from " << page.clients.size() << " clients";
        expectBothWorkersServeTheirDownloads(page);
        testsupport::quitAndExpectCleanEnd(terminal);
    }
    EXPECT_EQ(testsupport::sanitizerReports(sanitizerLogs), "");
}

TEST_F(SquidWorkers, StoppingAProxyWhoseMasterWasKilledLeavesNothingBehind) {
    testsupport::SquidSettings settings;
    settings.workers = workerCount;
    SquidProxy proxy(settings);
    const auto squids = [&proxy] {
        const auto found = lines(proxy.leftovers());
        return std::count_if(found.begin(), found.end(), [](const std::string& line) {
            return line.rfind("process ", 0) == 0 && line.find("(squid)") != std::string::npos;
        });
    };
    // The master, the coordinator and the workers.
    ASSERT_EQ(squids(), workerCount + 2) << proxy.leftovers();
    ASSERT_THAT(proxy.leftovers(), HasSubstr("-kid-1.ipc"));
    ASSERT_EQ(kill(proxy.pid(), SIGKILL), 0);
    // The kids go on without their master.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (squids() > workerCount + 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(squids(), workerCount + 1) << proxy.leftovers();
    proxy.stop();
    EXPECT_EQ(proxy.leftovers(), "");
}

}  // namespace
}  // namespace reqwatch
