// The interactive run in a real terminal: reqwatch inside tmux against the
// fake cache manager, read back from the screen.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "support/fake_cache_manager.h"
#include "support/page_text.h"
#include "support/process.h"
#include "support/temporary_folder.h"
#include "support/terminal_run.h"
#include "support/tmux_session.h"

namespace reqwatch {
namespace {

using namespace std::chrono_literals;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testsupport::cacheManagerReply;
using testsupport::FakeCacheManager;
using testsupport::FakeReply;
using testsupport::requestBlock;
using testsupport::TmuxSession;

// Two clients: 10.0.0.1 (alice) with two downloads, 10.0.0.2 (bob) with two.
std::string twoClientPage() {
    return requestBlock("0x1", "10.0.0.1:5001", "http://a.example/one", "900000", "10.0", "alice") +
           requestBlock("0x2", "10.0.0.1:5002", "http://a.example/two", "800000", "10.0", "alice") +
           requestBlock("0x3", "10.0.0.2:5003", "http://b.example/three", "300000", "10.0", "bob") +
           requestBlock("0x4", "10.0.0.2:5004", "http://b.example/four", "200000", "10.0", "bob");
}

std::string manyClientPage(int clients) {
    std::string page;
    for (int i = 0; i < clients; ++i) {
        const std::string address = "10.1.0." + std::to_string(i + 1);
        for (int u = 0; u < 2; ++u) {
            page += requestBlock("0x" + std::to_string(i * 2 + u),
                                 address + ":" + std::to_string(6000 + u),
                                 "http://host" + std::to_string(i) + "/u" + std::to_string(u),
                                 std::to_string(1000000 - i * 1000 - u), "5.0");
        }
    }
    return page;
}

class Terminal : public ::testing::Test {
  protected:
    // Runs reqwatch with -n (no name service) against the fake; after it
    // ends, the shell shows its exit status and the terminal's line mode.
    void start(const std::vector<std::string>& arguments, int columns = 100, int lines = 30) {
        std::vector<std::string> all{"-n", "-p", std::to_string(server.port())};
        all.insert(all.end(), arguments.begin(), arguments.end());
        terminal = std::make_unique<TmuxSession>(
            testsupport::reqwatchShellCommand(all, sanitizerLogs), columns, lines);
    }

    // Quits with q and checks that the shell got its terminal back in time.
    void quit(std::chrono::milliseconds within = 3000ms) {
        const auto pressed = std::chrono::steady_clock::now();
        testsupport::quitAndExpectCleanEnd(*terminal);
        const auto took = std::chrono::steady_clock::now() - pressed;
        EXPECT_LT(took, within);
        std::cout << "quit took "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
    }

    std::string row(std::size_t index) const {
        const auto rows = terminal->rows();
        return index < rows.size() ? rows[index] : std::string();
    }
    bool showsStatus(const std::string& message) const {
        // capture-pane drops the blank that ends the reverse-video message.
        return terminal->waitFor(
            [&](const std::string& screen) { return screen.rfind(" " + message + "\n", 0) == 0; });
    }

    void TearDown() override {
        terminal.reset();
        EXPECT_EQ(testsupport::sanitizerReports(sanitizerLogs), "");
    }

    testsupport::TemporaryFolder sanitizerLogs;
    FakeCacheManager server;
    std::unique_ptr<TmuxSession> terminal;
};

TEST_F(Terminal, TheFirstSampleComesWithoutAKeyAndQuitRestoresTheTerminal) {
    server.setReply({cacheManagerReply(twoClientPage())});
    start({});
    ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1")) << terminal->screen();
    const std::string top = row(0);
    EXPECT_THAT(top, StartsWith("Connected to 127.0.0.1:" + std::to_string(server.port())));
    EXPECT_EQ(top.size(), 100u);
    EXPECT_THAT(top, EndsWith("reqwatch-2015-02-08"));
    EXPECT_THAT(row(3), StartsWith("  Host: 10.0.0.1; User: alice (size: 1MB 636KB"));
    EXPECT_THAT(row(4), StartsWith("    http://a.example/one"));
    EXPECT_THAT(row(7), StartsWith("  Host: 10.0.0.2; User: bob"));
    EXPECT_THAT(row(29), StartsWith("Average speed: 214.8 KB/s"));
    EXPECT_THAT(row(29), HasSubstr("Active hosts: 2"));
    EXPECT_THAT(row(29), HasSubstr("Active connections: 4"));
    // The selection bar starts at the text, after the indentation.
    EXPECT_THAT(terminal->screenWithAttributes(), HasSubstr("  \x1b[7mHost: 10.0.0.1"));
    quit();
}

TEST_F(Terminal, DisplayKeysConfirmAndChangeTheList) {
    server.setReply({cacheManagerReply(twoClientPage())});
    start({});
    ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1"));
    terminal->type("b");
    ASSERT_TRUE(showsStatus("Brief output ON"));
    EXPECT_THAT(row(3), HasSubstr("(sessions: 2,"));
    EXPECT_THAT(row(4), StartsWith("  Host: 10.0.0.2"));
    terminal->type("b");
    ASSERT_TRUE(showsStatus("Brief output OFF"));
    terminal->type("d");
    ASSERT_TRUE(showsStatus("Detailed output ON"));
    EXPECT_THAT(row(4),
                StartsWith("    http://a.example/one (size: 878KB, average speed: 87.9 KB/s)"));
    terminal->type("f");
    ASSERT_TRUE(showsStatus("Showing full details ON"));
    EXPECT_THAT(row(3), HasSubstr("max time: 10s)"));
    terminal->type("s");
    ASSERT_TRUE(showsStatus("Speed showing mode - average only"));
    terminal->type("o");
    ASSERT_TRUE(showsStatus("Connections sort order - by current speed"));
    terminal->type("R");
    ASSERT_TRUE(showsStatus("Hosts showing mode - host name only"));
    terminal->type(" ");
    ASSERT_TRUE(terminal->waitFor([this](const std::string&) {
        return row(1).find("Statistics refreshing disabled") != std::string::npos;
    }));
    terminal->type("?");
    ASSERT_TRUE(terminal->waitForText(" SPACE - stop refreshing (ON)"));
    EXPECT_EQ(row(4), "Output:");
    terminal->type("?");
    ASSERT_TRUE(terminal->waitFor(
        [this](const std::string&) { return row(4).find("  Host: 10.0.0.1") == 0; }));
    terminal->sendKeys({"Left"});
    ASSERT_TRUE(showsStatus("Press ? for help"));
    quit();
}

TEST_F(Terminal, PromptsAcceptCancelAndRefuse) {
    server.setReply({cacheManagerReply(twoClientPage())});
    start({});
    ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1"));
    const std::string port = std::to_string(server.port());

    terminal->type("h");
    ASSERT_TRUE(terminal->waitForText("Squid host> 127.0.0.1")) << terminal->screen();
    terminal->sendKeys({"Escape"});
    ASSERT_TRUE(showsStatus("invalid input"));

    terminal->type("p");
    ASSERT_TRUE(terminal->waitForText("Squid port> " + port));
    terminal->sendKeys({"C-u"});
    terminal->type("8x");
    terminal->sendKeys({"Enter"});
    ASSERT_TRUE(showsStatus("Invalid input 'x'"));
    terminal->type("p");
    ASSERT_TRUE(terminal->waitForText("Squid port> " + port));
    terminal->sendKeys({"C-u", "Enter"});  // an empty answer keeps the port
    // The list empties; the last message goes with the first redraw three
    // seconds after it came, and the list refills at the next sample.
    ASSERT_TRUE(terminal->waitForText("Connected to 127.0.0.1:" + port, 8000ms))
        << terminal->screen();
    ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1"));  // refilled by the next sample

    terminal->type("r");
    ASSERT_TRUE(terminal->waitForText("Refresh interval (sec)> 2"));
    terminal->sendKeys({"BSpace"});
    terminal->type("0");
    terminal->sendKeys({"Enter"});
    ASSERT_TRUE(showsStatus("Invalid refresh interval"));

    terminal->type("H");
    ASSERT_TRUE(terminal->waitForText("Hosts to show>"));
    terminal->type("10.0.0.2,10.9.0.0/16");
    terminal->sendKeys({"Enter"});
    ASSERT_TRUE(terminal->waitForText("Filtering by: 10.0.0.2, 10.9.0.0/16"));
    EXPECT_THAT(terminal->screen(), ::testing::Not(HasSubstr("Host: 10.0.0.1")));
    terminal->type("H");
    ASSERT_TRUE(terminal->waitForText("Hosts to show> 10.0.0.2,10.9.0.0/16"));
    terminal->sendKeys({"C-u", "Enter"});
    ASSERT_TRUE(terminal->waitFor([](const std::string& screen) {
        return screen.find("Filtering by:") == std::string::npos;
    }));

    terminal->type("u");
    ASSERT_TRUE(terminal->waitForText("Users to show>"));
    terminal->type("bob");
    terminal->sendKeys({"Enter"});
    ASSERT_TRUE(terminal->waitForText("Filtering by users: bob"));
    EXPECT_THAT(terminal->screen(), ::testing::Not(HasSubstr("Host: 10.0.0.1")));
    terminal->type("u");
    terminal->sendKeys({"C-u", "Enter"});
    ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1"));

    terminal->type("/");
    ASSERT_TRUE(terminal->waitForText("Search for>"));
    terminal->type("zzz");
    terminal->sendKeys({"Enter"});
    ASSERT_TRUE(showsStatus("Failed to find 'zzz'"));
    terminal->type("/");
    terminal->type("four");
    terminal->sendKeys({"Enter"});
    ASSERT_TRUE(terminal->waitFor([this](const std::string&) {
        return terminal->screenWithAttributes().find("    \x1b[7mhttp://b.example/four") !=
               std::string::npos;
    })) << terminal->screenWithAttributes();
    quit();
}

TEST_F(Terminal, ScrollingFollowsTheSelection) {
    server.setReply({cacheManagerReply(manyClientPage(30))});
    start({}, 80, 24);  // list area: rows 3 to 21
    ASSERT_TRUE(terminal->waitForText("Host: 10.1.0.1"));
    terminal->sendKeys({"End"});
    ASSERT_TRUE(terminal->waitFor([this](const std::string&) {
        return row(20).find("    http://host29/u1") == 0;
    })) << terminal->screen();
    EXPECT_THAT(row(19), StartsWith("    http://host29/u0"));
    terminal->sendKeys({"Home"});
    ASSERT_TRUE(terminal->waitFor(
        [this](const std::string&) { return row(3).find("  Host: 10.1.0.1 ") == 0; }));
    terminal->sendKeys({"NPage", "NPage", "NPage", "NPage", "NPage", "NPage", "NPage"});
    ASSERT_TRUE(terminal->waitFor([this](const std::string&) {
        // Seven pages of ten rows: the second URL of the eighteenth client.
        return terminal->screenWithAttributes().find("\x1b[7mhttp://host17/u1") !=
               std::string::npos;
    })) << terminal->screen();
    quit();
}

TEST_F(Terminal, AProxyThatGoesAwayIsReportedUntilItComesBack) {
    server.setReply({cacheManagerReply(twoClientPage())});
    start({"-r", "1"});
    ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1"));
    server.stopListening();
    const std::string refused =
        "Connection refused while connecting to 127.0.0.1:" + std::to_string(server.port());
    ASSERT_TRUE(terminal->waitForText(refused)) << terminal->screen();
    EXPECT_THAT(terminal->screen(), HasSubstr("Host: 10.0.0.1"));  // the last good sample stays
    server.startListening();
    ASSERT_TRUE(terminal->waitFor([&](const std::string& screen) {
        return screen.find(refused) == std::string::npos &&
               screen.find("Connected to 127.0.0.1") == 0;
    })) << terminal->screen();
    quit();
}

TEST_F(Terminal, AnUnreachableProxyAtStartShowsTheFailureAndZeroTotals) {
    server.stopListening();
    start({});
    ASSERT_TRUE(terminal->waitForText("Connection refused while connecting to"));
    EXPECT_THAT(row(29), StartsWith("Average speed: 0.0 KB/s"));
    EXPECT_THAT(row(29), HasSubstr("Active hosts: 0"));
    quit();
}

TEST_F(Terminal, QuitDuringAHangingFetchReturnsAtOnce) {
    FakeReply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nServer: squid/5.7\r\n";
    reply.hang = true;
    server.setReply(reply);
    start({});
    for (int i = 0; i < 250 && server.connectionCount() == 0; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_EQ(server.connectionCount(), 1u);
    std::this_thread::sleep_for(300ms);
    // The keys keep working while the fetch waits.
    terminal->type("b");
    ASSERT_TRUE(showsStatus("Brief output ON")) << terminal->screen();
    terminal->type("?");
    ASSERT_TRUE(terminal->waitForText(" SPACE - stop refreshing (OFF)"));
    quit(1000ms);
}

TEST_F(Terminal, AStuckFetchGivesWayAtOnceToANewPortAndTheFrameComesFirst) {
    FakeReply silent;
    silent.hang = true;  // accepts, reads the request, never answers
    server.setReply(silent);
    FakeCacheManager answering;
    answering.setReply({cacheManagerReply(twoClientPage())});
    start({});
    // The frame comes before any reply, and the cursor stays out of the list.
    const std::string port = std::to_string(server.port());
    ASSERT_TRUE(terminal->waitForText("Connecting to 127.0.0.1:" + port)) << terminal->screen();
    EXPECT_THAT(row(29), StartsWith("Average speed: 0.0 KB/s"));
    EXPECT_FALSE(terminal->cursorVisible());
    terminal->type("p");
    ASSERT_TRUE(terminal->waitForText("Squid port> " + port));
    EXPECT_TRUE(terminal->cursorVisible());
    terminal->sendKeys({"C-u"});
    terminal->type(std::to_string(answering.port()));
    const auto entered = std::chrono::steady_clock::now();
    terminal->sendKeys({"Enter"});
    ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1", 3000ms)) << terminal->screen();
    EXPECT_LT(std::chrono::steady_clock::now() - entered, 3000ms);
    EXPECT_THAT(row(0), StartsWith("Connected to 127.0.0.1:" + std::to_string(answering.port())));
    EXPECT_FALSE(terminal->cursorVisible());
    quit(1000ms);
}

TEST_F(Terminal, AFetchPastTheTimeLimitIsAFailureOnTheTopLine) {
    FakeReply silent;
    silent.hang = true;
    server.setReply(silent);
    start({"--timeout", "1", "-r", "1"});
    ASSERT_TRUE(terminal->waitForText(
        "Timed out after 1 s waiting for 127.0.0.1:" + std::to_string(server.port()), 4000ms))
        << terminal->screen();
    // And it tries again: the proxy is asked more than once.
    for (int i = 0; i < 150 && server.connectionCount() < 2; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GE(server.connectionCount(), 2u);
    quit(1000ms);
}

TEST_F(Terminal, ATerminalThatCannotMoveItsCursorIsRefused) {
    terminal = std::make_unique<TmuxSession>(
        "TERM=dumb " + testsupport::reqwatchShellCommand(
                           {"-n", "-p", std::to_string(server.port())}, sanitizerLogs),
        200, 30);
    ASSERT_TRUE(terminal->waitForText("exit=")) << terminal->screen();
    const std::string screen = terminal->screen();
    EXPECT_THAT(screen, HasSubstr("The interactive display needs a terminal that can move its "
                                  "cursor (TERM=dumb cannot move the cursor); use --once for a "
                                  "report."));
    EXPECT_THAT(screen, HasSubstr("exit=1"));
    EXPECT_EQ(server.connectionCount(), 0u);
}

TEST_F(Terminal, SeveralProxiesAHangingOneDelaysNoneOfTheOthers) {
    server.setReply({cacheManagerReply(twoClientPage())});
    FakeCacheManager hanging;
    FakeReply silent;
    silent.hang = true;
    hanging.setReply(silent);
    int refusedPort;
    {
        FakeCacheManager closed;
        refusedPort = closed.port();
    }
    const std::string good = "127.0.0.1:" + std::to_string(server.port());
    const std::string hung = "127.0.0.1:" + std::to_string(hanging.port());
    const std::string refused = "127.0.0.1:" + std::to_string(refusedPort);
    start({"-r", "1", "-h", hung + "," + refused + "," + good}, 120, 40);
    ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1", 2500ms)) << terminal->screen();
    const std::string screen = terminal->screen();
    EXPECT_THAT(screen, HasSubstr("Proxy " + hung + ": connecting"));
    EXPECT_THAT(screen, HasSubstr("Proxy " + refused + ": Connection refused while connecting to " +
                                  refused));
    EXPECT_THAT(screen, HasSubstr("Proxy " + good + " (active connections: 4, active hosts: 2"));
    EXPECT_THAT(row(0), HasSubstr("Connection refused while connecting to " + refused));
    EXPECT_THAT(row(39), HasSubstr("Active hosts: 2"));
    EXPECT_THAT(row(39), HasSubstr("Active connections: 4"));
    // The good proxy is asked every second (and the time of a fetch) all
    // the while.
    const std::size_t asked = server.connectionCount();
    std::this_thread::sleep_for(3200ms);
    EXPECT_GE(server.connectionCount(), asked + 2);
    EXPECT_EQ(hanging.connectionCount(), 1u);
    quit(1000ms);
}

TEST_F(Terminal, FaultyRepliesShowTheirMessageOnTheTopLine) {
    FakeReply reset{cacheManagerReply(twoClientPage())};
    reset.reset = true;
    reset.cutAfter = 300;
    struct Case {
        FakeReply reply;
        std::string message;
    };
    const Case cases[] = {
        {reset, "Connection reset by peer"},
        {{"HTTP/1.1 407 Proxy Authentication Required\r\n\r\n"},
         "Access to squid statistic denied: HTTP/1.1 407 Proxy Authentication Required"},
        {{cacheManagerReply("uri a b\n")}, "Warning!!! Please send bug report."},
        {{""}, "Empty reply from 127.0.0.1:"},
    };
    for (const auto& item : cases) {
        server.setReply(item.reply);
        start({"-r", "1"});
        ASSERT_TRUE(terminal->waitForText(item.message)) << terminal->screen();
        quit();
        terminal.reset();
    }
}

}  // namespace
}  // namespace reqwatch
