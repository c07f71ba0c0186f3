// reqwatch against a real Squid under load: 200 throttled downloads from 20
// loopback source addresses (127.0.0.2 to 127.0.0.21) and four logins, kept
// running by a slow delay pool for the whole suite. The once-only report is
// checked against the very page it was served, counted with logic of our
// own (support/page_count.h), and the live screen must answer keys at once
// while it samples the busy proxy every second.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
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
#include "support/tmux_control.h"
#include "support/tmux_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace reqwatch {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testsupport::bodyOf;
using testsupport::ChildProcess;
using testsupport::countPage;
using testsupport::lines;
using testsupport::OriginServer;
using testsupport::PageCount;
using testsupport::RecordingRelay;
using testsupport::SquidProxy;
using testsupport::TmuxSession;

constexpr int downloadCount = 200;
constexpr int addressCount = 20;
// Shared by all downloads: about 10 KB/s each, so that a download of the
// origin's default size (1 GiB) outlasts the suite by far. Squid hands the
// pool out in reads of about 60 KB to a few downloads at a time, so this is
// also what gets all 200 under way within seconds (about 35 per second).
constexpr std::int64_t poolBytesPerSecond = 2000000;
// Squid holds a client and an origin connection per download, plus its own.
constexpr int squidDescriptors = 4096;
constexpr auto downloadsStartTimeout = 60s;
constexpr double keyAnswerLimitMilliseconds = 100;

std::string sourceAddress(int download) {
    return "127.0.0." + std::to_string(2 + download % addressCount);
}

// Every address gets each login in turn.
std::size_t userOf(int download, std::size_t users) {
    return static_cast<std::size_t>(download / addressCount) % users;
}

std::string downloadPath(int download) {
    return "/load/" + std::to_string(download);  // the origin's default size
}

struct Latencies {
    std::vector<double> milliseconds;

    std::string summary() const {
        std::vector<double> sorted = milliseconds;
        std::sort(sorted.begin(), sorted.end());
        std::ostringstream text;
        text.precision(1);
        text << std::fixed << "min " << sorted.front() << " ms, median "
             << sorted[sorted.size() / 2] << " ms, max " << sorted.back() << " ms; all:";
        for (const double value : milliseconds) {
            text << " " << value;
        }
        return text.str();
    }
};

class SquidLoad : public testsupport::SquidSuite<SquidLoad> {
  public:
    static void startDownloads() {
        raiseDescriptorLimit();
        origin = std::make_unique<OriginServer>();
        testsupport::SquidSettings settings;
        settings.users = {
            {"carol", "carol-pw"}, {"dave", "dave-pw"}, {"erin", "erin-pw"}, {"frank", "frank-pw"}};
        settings.bytesPerSecond = poolBytesPerSecond;
        settings.clientNetwork = "127.0.0.0/8";
        settings.maxFileDescriptors = squidDescriptors;
        squid = std::make_unique<SquidProxy>(settings);
        for (int download = 0; download < downloadCount; ++download) {
            const auto& user = settings.users[userOf(download, settings.users.size())];
            // An empty --noproxy keeps a no_proxy variable from bypassing the proxy.
            curls.emplace_back(std::vector<std::string>{
                "curl", "-s", "-o", "/dev/null", "--noproxy", "", "--interface",
                sourceAddress(download), "--proxy", squid->proxyUrl(), "--proxy-user",
                user.login + ":" + user.password, origin->url(downloadPath(download))});
        }
        waitForDownloads();
    }

  protected:
    // The origin server keeps a socket per download in this process.
    static void raiseDescriptorLimit() {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        const rlim_t wanted = 4 * downloadCount;
        if (limit.rlim_cur < wanted) {
            limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, wanted);
            setrlimit(RLIMIT_NOFILE, &limit);
            getrlimit(RLIMIT_NOFILE, &limit);
        }
        if (limit.rlim_cur < wanted) {
            throw std::runtime_error("the file descriptor limit (ulimit -n " +
                                     std::to_string(limit.rlim_cur) + ") is below " +
                                     std::to_string(wanted));
        }
    }

    // The page as curl fetches it (without the header), not through reqwatch.
    static std::string fetchPage() {
        const auto result = testsupport::runCommand(
            {"curl", "-s", "--noproxy", "", "-u", "admin:" + squid->settings().managerPassword,
             squid->proxyUrl() + "/squid-internal-mgr/active_requests"});
        return result.out;
    }

    // The downloads of ours that the page shows with bytes sent.
    static int downloadsUnderway(const PageCount& page) {
        int count = 0;
        for (int download = 0; download < downloadCount; ++download) {
            const auto found = page.bytesByUri.find(origin->url(downloadPath(download)));
            count += found != page.bytesByUri.end() && found->second > 0 ? 1 : 0;
        }
        return count;
    }

    static int curlsRunning() {
        return static_cast<int>(std::count_if(curls.begin(), curls.end(),
                                              [](ChildProcess& curl) { return curl.running(); }));
    }

    static void waitForDownloads() {
        const auto deadline = std::chrono::steady_clock::now() + downloadsStartTimeout;
        int underway = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            underway = downloadsUnderway(countPage(fetchPage()));
            if (underway == downloadCount) {
                return;
            }
            std::this_thread::sleep_for(500ms);
        }
        throw std::runtime_error(
            "only " + std::to_string(underway) + " of " + std::to_string(downloadCount) +
            " downloads got going; " + std::to_string(curlsRunning()) +
            " curl still running\n--- end of cache.log ---\n" + squid->cacheLogTail());
    }

    // Every download still runs and still shows on the page.
    static void expectAllDownloadsActive() {
        EXPECT_EQ(curlsRunning(), downloadCount);
        EXPECT_EQ(downloadsUnderway(countPage(fetchPage())), downloadCount)
            << squid->cacheLogTail();
    }

    static std::string managerPassword() { return squid->settings().managerPassword; }
};

TEST_F(SquidLoad, SquidCopesWithTheDownloads) {
    // Squid took the descriptors it was given, and ran short of none.
    const std::string log = squid->cacheLogTail(100000);
    EXPECT_THAT(
        log, HasSubstr("With " + std::to_string(squidDescriptors) + " file descriptors available"));
    for (const char* trouble :
         {"running out of filedescriptors", "are busy", "queue overload", "Too many open files"}) {
        EXPECT_THAT(log, ::testing::Not(HasSubstr(trouble)));
    }
    expectAllDownloadsActive();
}

TEST_F(SquidLoad, OnceReportCountsTheRequestsAndClientsOfThePageItGot) {
    RecordingRelay relay(squid->port());
    const auto result =
        testsupport::runReqwatch({"--once", "-n", "-c", "-h", "127.0.0.1", "-p",
                                  std::to_string(relay.port()), "-P", managerPassword()});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_TRUE(relay.waitUntilIdle(5s));
    ASSERT_GE(relay.completedCount(), 1u);
    ASSERT_EQ(relay.completedCount(), relay.connectionCount());
    const std::string reply = relay.replies().back();  // the one reqwatch reported on
    ASSERT_THAT(reply.substr(0, reply.find('\n')),
                ::testing::MatchesRegex("HTTP/1\\.[01] 200 OK\r"));
    const PageCount page = countPage(bodyOf(reply));
    std::cout << "the page reqwatch got: " << reply.size() << " bytes, " << page.requests
              << " requests from " << page.clients.size() << " clients\n";

    const auto out = lines(result.out);
    const auto summary = std::find_if(out.begin(), out.end(), [](const std::string& line) {
        return line.find("Active connections: ") == 0;
    });
    ASSERT_NE(summary, out.end()) << result.out;
    EXPECT_THAT(*summary,
                StartsWith("Active connections: " + std::to_string(page.requests) +
                           ", active hosts: " + std::to_string(page.clients.size()) + ","));

    // The page is the one the load makes: our downloads from our addresses
    // and logins, and reqwatch's own request from 127.0.0.1.
    EXPECT_EQ(downloadsUnderway(page), downloadCount);
    std::set<std::string> addresses{"127.0.0.1"};
    for (int download = 0; download < downloadCount; ++download) {
        addresses.insert(sourceAddress(download));
    }
    EXPECT_EQ(page.clients, addresses);
    std::set<std::string> logins;
    for (const auto& user : squid->settings().users) {
        logins.insert(user.login);
    }
    EXPECT_EQ(page.logins, logins);

    // The report shows each address with all of its logins, and every download.
    for (int address = 0; address < addressCount; ++address) {
        const std::string host = "  Host: " + sourceAddress(address) + "; Users: ";
        const auto line = std::find_if(out.begin(), out.end(), [&](const std::string& text) {
            return text.rfind(host, 0) == 0;
        });
        ASSERT_NE(line, out.end()) << host;
        for (const auto& login : logins) {
            EXPECT_THAT(*line, HasSubstr(login));
        }
    }
    for (int download = 0; download < downloadCount; ++download) {
        const std::string url = "    " + origin->url(downloadPath(download));
        EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const std::string& text) {
            return text == url || text.rfind(url + " ", 0) == 0;
        })) << url;
    }
    expectAllDownloadsActive();
}

TEST_F(SquidLoad, TheLiveScreenAnswersKeysWhileItSamplesTheBusyProxy) {
    if (testsupport::findProgram("tmux").empty()) {
        GTEST_SKIP() << "tmux is not installed";
    }
    // Through the relay, so that the samples taken meanwhile can be counted.
    RecordingRelay relay(squid->port());
    testsupport::TemporaryFolder sanitizerLogs;
    testsupport::TemporaryFolder files;
    const std::string socketFile = files.file("socket");
    {
        // The shell in the pane tells where its tmux server listens, for
        // the control client below.
        TmuxSession terminal("printf %s \"$TMUX\" >" + socketFile + "; " +
                                 testsupport::reqwatchShellCommand(
                                     {"-n", "-r", "1", "-h", "127.0.0.1", "-p",
                                      std::to_string(relay.port()), "-P", managerPassword()},
                                     sanitizerLogs),
                             200, 60);
        ASSERT_TRUE(terminal.waitForText("Host: 127.0.0.", 10s)) << terminal.screen();
        std::ifstream socketText(socketFile);
        std::string socket;
        std::getline(socketText, socket, ',');
        ASSERT_FALSE(socket.empty());
        testsupport::TmuxControl control(socket, "test");

        // From just before the key is sent to the end of the first look at
        // the screen that shows the answer, so nothing is subtracted and a
        // time is an upper bound. Key and looks go through one control-mode
        // client: no process is started for either, and the screen is read
        // back to back without sleeping, each look a fraction of a
        // millisecond. What remains besides reqwatch is tmux's own work:
        // passing the key on and reading reqwatch's output.
        bool brief = false;
        const auto pressB = [&] {
            brief = !brief;
            const std::string expected =
                std::string(" Brief output ") + (brief ? "ON" : "OFF") + "\n";
            const auto pressed = std::chrono::steady_clock::now();
            control.sendKey("b");
            for (;;) {
                const bool answered = control.screen().rfind(expected, 0) == 0;
                const auto now = std::chrono::steady_clock::now();
                if (answered) {
                    return std::chrono::duration<double, std::milli>(now - pressed).count();
                }
                if (now - pressed > 5s) {
                    ADD_FAILURE() << "no '" << expected << "' after 5 s:\n" << control.screen();
                    return 5000.0;
                }
            }
        };
        // Presses at uneven gaps land at different points of the refresh
        // cycle, some of them while a sample is read or drawn.
        const auto measure = [&](int presses) {
            Latencies latencies;
            for (int i = 0; i < presses; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(150 + (i * 173) % 400));
                latencies.milliseconds.push_back(pressB());
            }
            return latencies;
        };

        const std::size_t samplesBefore = relay.completedCount();
        const auto started = std::chrono::steady_clock::now();
        const Latencies underLoad = measure(30);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const std::size_t samplesDuring = relay.completedCount() - samplesBefore;
        std::cout << "key answers while sampling (" << samplesDuring << " samples in " << seconds
                  << " s): " << underLoad.summary() << "\n";
        // The samples kept coming: -r 1 asks for one a second, and the waits
        // of the refresh thread for the screen (which the keyboard loop holds
        // while it waits for a key, up to 0.2 s) stretch that to up to two.
        EXPECT_GE(static_cast<double>(samplesDuring), seconds / 3);
        for (const double answer : underLoad.milliseconds) {
            EXPECT_LT(answer, keyAnswerLimitMilliseconds);
        }
        const PageCount lastSample = countPage(bodyOf(relay.replies().back()));
        EXPECT_EQ(downloadsUnderway(lastSample), downloadCount);

        // The baseline: the same key with refreshing stopped, the screen idle.
        terminal.type(" ");
        ASSERT_TRUE(terminal.waitForText("Statistics refreshing disabled")) << terminal.screen();
        std::this_thread::sleep_for(1500ms);  // a fetch under way ends
        const std::size_t samplesIdle = relay.completedCount();
        const Latencies idle = measure(10);
        std::cout << "key answers with refreshing stopped: " << idle.summary() << "\n";
        EXPECT_EQ(relay.completedCount(), samplesIdle);

        testsupport::quitAndExpectCleanEnd(terminal);
    }
    EXPECT_EQ(testsupport::sanitizerReports(sanitizerLogs), "");
    expectAllDownloadsActive();
}

}  // namespace
}  // namespace reqwatch
