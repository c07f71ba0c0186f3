#include "screen/screen.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

#include "screen/grid_surface.h"
#include "screen/key_codes.h"
#include "screen_fixtures.h"
#include "support/kept_text.h"

namespace reqwatch {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string dashes(80, GridSurface::lineCell);

std::string padded(const std::string& text) {
    return (text + std::string(80, ' ')).substr(0, 80);
}

class ScreenTest : public ::testing::Test {
  protected:
    ScreenTest() : grid(80, 24), screen(options, grid, [this] { return clock; }) {
        screen.startCurses();
        screen.connecting = false;  // as after the first fetch
    }

    void draw() {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.expireStatus();
        screen.draw();
    }
    void status(const std::string& text) {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setStatus(text);
    }

    std::time_t clock = 1000;
    Options options;
    GridSurface grid;
    Screen screen;
};

TEST_F(ScreenTest, LayoutBeforeTheFirstSample) {
    screen.connecting = true;
    draw();
    EXPECT_EQ(grid.row(0),
              "Connecting to 127.0.0.1:3128" + std::string(33, ' ') + "reqwatch-2015-02-08");
    EXPECT_FALSE(grid.cursorVisible());
    EXPECT_EQ(grid.row(1), dashes);
    EXPECT_EQ(grid.row(22), dashes);
    // Tabs advance to the stops at multiples of eight.
    EXPECT_EQ(grid.row(23), padded("Average speed: 0.0 KB/s         Active hosts: 0         "
                                   "Active connections: 0"));
    EXPECT_EQ(grid.cursorRow(), 23);
    EXPECT_EQ(grid.cursorColumn(), 79);
    EXPECT_GE(grid.flushes(), 1);
}

TEST_F(ScreenTest, SampleRowsAndTotals) {
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(twoClients());
        screen.setTotals(1000, 30000);
        screen.setRequestCount(5);
    }
    draw();
    EXPECT_THAT(grid.row(3), StartsWith("  Host: 10.0.0.1; User: alice (size: 16KB"));
    EXPECT_EQ(grid.reverseText(3).substr(0, 10), "Host: 10.0");  // selected first row
    EXPECT_THAT(grid.row(4), StartsWith("    http://a.example/one "));
    EXPECT_EQ(grid.row(6), std::string(80, ' '));  // the separator
    EXPECT_THAT(grid.row(7), StartsWith("  Host: 10.0.0.2; User: bob"));
    EXPECT_EQ(grid.row(23), padded("Current/average speed: 29.3/1.0 KB/s            Active hosts: "
                                   "2         Active connections: 5"));
}

TEST_F(ScreenTest, HeadingsPushTheListDown) {
    options.refreshing = false;
    draw();
    EXPECT_EQ(grid.row(1).substr(25, 30), "Statistics refreshing disabled");
    EXPECT_EQ(grid.row(2), dashes);

    options.hosts = {"10.0.0.0/8", "192.168.1.1"};
    options.users = {"alice"};
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(twoClients());
    }
    draw();
    const std::string hosts = "Filtering by: 10.0.0.0/8, 192.168.1.1";
    EXPECT_EQ(grid.row(1).substr(40 - hosts.size() / 2, hosts.size()), hosts);
    EXPECT_THAT(grid.row(2), HasSubstr("Filtering by users: alice"));
    EXPECT_THAT(grid.row(3), HasSubstr("Statistics refreshing disabled"));
    EXPECT_EQ(grid.row(4), dashes);
    EXPECT_THAT(grid.row(6), StartsWith("  Host: 10.0.0.1"));  // bob is filtered out
    EXPECT_THAT(grid.row(23), HasSubstr("Active hosts: 2"));   // totals count everyone
}

TEST_F(ScreenTest, ALongFilterLineIsCutOrWrapped) {
    std::string entry = "10.0.0.0/8";
    while (entry.size() < 100 - std::string("Filtering by: ").size()) {
        entry += "x";
    }
    options.hosts = {entry};
    const std::string line = "Filtering by: " + entry;
    ASSERT_EQ(line.size(), 100u);
    draw();
    EXPECT_EQ(grid.row(1), line.substr(0, 39) + "..." + line.substr(62));
    EXPECT_EQ(grid.row(2), dashes);
    options.compactLongUrls = false;
    draw();
    EXPECT_EQ(grid.row(1), line.substr(0, 80));
    EXPECT_EQ(grid.row(2).substr(0, 20), line.substr(80));
    EXPECT_EQ(grid.row(3), dashes);
}

TEST_F(ScreenTest, StatusMessagesExpireAfterTheirLifetime) {
    status("Brief output ON");
    draw();
    EXPECT_EQ(grid.reverseText(0), " Brief output ON ");
    clock += 2;
    draw();
    EXPECT_THAT(grid.row(0), StartsWith(" Brief output ON "));
    clock += 1;
    draw();
    EXPECT_THAT(grid.row(0), StartsWith("Connected to "));
    EXPECT_FALSE(options.messageVisible);
}

TEST_F(ScreenTest, AnErrorTextIsCentredOnOneLineAndBlocksMessages) {
    screen.setError("a\nb");
    EXPECT_EQ(screen.errorText, "a b");
    EXPECT_EQ(grid.row(0), std::string(39, ' ') + "a b" + std::string(38, ' '));
    EXPECT_EQ(grid.reverseText(0), "a b");
    status("Press ? for help");
    draw();
    EXPECT_EQ(grid.reverseText(0), "a b");
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.clearError();
    }
    draw();
    EXPECT_THAT(grid.row(0), StartsWith("Connected to "));
}

TEST_F(ScreenTest, AFailureWiderThanTheScreenShowsWhatFits) {
    const std::string failure =
        "Warning!!! Please send bug report. active_requests format changed - 'uri a b'. "
        "squid/5.7. reqwatch-2015-02-08";
    ASSERT_GT(failure.size(), 80u);
    screen.setError(failure);
    EXPECT_EQ(grid.row(0), failure.substr(0, 80));
    EXPECT_EQ(grid.reverseText(0), failure.substr(0, 80));
    EXPECT_EQ(grid.row(1), dashes);
}

TEST_F(ScreenTest, AFailedSearchIsReportedOnTheSamePass) {
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(twoClients());
        screen.searchText = "zzz";
    }
    draw();
    EXPECT_EQ(grid.reverseText(0), " Failed to find 'zzz' ");
    EXPECT_EQ(screen.searchText, "");
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.searchText = "four";
    }
    draw();
    EXPECT_EQ(screen.cursor, 6u);
    EXPECT_EQ(screen.selectedRow.row.urlId, "0x4");
    EXPECT_EQ(screen.selectedRow.connection.peer, "10.0.0.2");
}

TEST_F(ScreenTest, EndScrollsAShortScreenSoThatTheLastRowEndsAboveTheBottom) {
    grid.resize(80, 12);  // list area: rows 3 to 9
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(manyClients(5, 2));
        screen.cursor = 4294967295u;
        screen.lastMove = 1;
    }
    draw();
    EXPECT_EQ(screen.cursor, 18u);  // 5 groups of 3 rows, separators between
    EXPECT_THAT(grid.row(8), StartsWith("    http://host4/u1"));
    EXPECT_EQ(grid.reverseText(8).substr(0, 16), "http://host4/u1");
    EXPECT_EQ(grid.row(9), std::string(80, ' '));
    // HOME goes back to the top.
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.cursor = 0;
        screen.lastMove = -1;
    }
    draw();
    EXPECT_THAT(grid.row(3), StartsWith("  Host: 10.1.0.1"));
    EXPECT_EQ(screen.scrollOffset, 0u);
}

TEST_F(ScreenTest, HelpReplacesTheListButNotTheBottomLines) {
    options.helpShown = true;
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(twoClients());
    }
    draw();
    EXPECT_EQ(grid.row(3).substr(0, 7), "Output:");
    EXPECT_EQ(grid.row(22), dashes);
    EXPECT_THAT(grid.row(23), StartsWith("Average speed:"));
}

TEST_F(ScreenTest, APromptStopsEveryDrawingPass) {
    draw();
    const std::string before = grid.text();
    options.promptActive = true;
    options.refreshing = false;
    draw();
    EXPECT_EQ(grid.text(), before);
}

TEST_F(ScreenTest, AResizeNeverLeavesRowsOverTheHeadingsOrTheListHidden) {
    grid.resize(100, 30);
    const auto move = [&](std::uint32_t cursor, std::int32_t lastMove) {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.cursor = cursor;
        screen.lastMove = lastMove;
    };
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(manyClients(3, 2));
    }
    // Home, Down, then down to one line and five lines, and back.
    move(0, -1);
    draw();
    move(1, 1);
    draw();
    for (const int lines : {1, 5, 30}) {
        grid.resize(100, lines);
        draw();
    }
    EXPECT_THAT(grid.row(0), StartsWith("Connected to "));
    EXPECT_EQ(grid.row(1), std::string(100, GridSurface::lineCell));
    EXPECT_EQ(grid.row(2), std::string(100, ' '));
    EXPECT_THAT(grid.row(3), StartsWith("  Host: 10.1.0.1"));
    EXPECT_EQ(grid.reverseText(4).substr(0, 15), "http://host0/u0");
    // End, a short screen, and back: every client shows again.
    move(4294967295u, 1);
    draw();
    grid.resize(100, 8);
    draw();
    grid.resize(100, 30);
    draw();
    EXPECT_THAT(grid.row(3), StartsWith("  Host: 10.1.0.1"));
    EXPECT_THAT(grid.row(13), StartsWith("    http://host2/u1"));
    EXPECT_EQ(grid.reverseText(13).substr(0, 15), "http://host2/u1");
}

TEST_F(ScreenTest, ARowTallerThanTheListShowsWhatFitsAndTheRestStaysReachable) {
    ConnectionList sample = twoClients();
    sample[0].urls[0].uri = testsupport::keep("http://a.example/" + std::string(3000, 'x'));
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(sample);
        screen.cursor = 1;
        screen.lastMove = 1;
        screen.toggledUrls = {"0x1"};  // ENTER on it: shown whole, 40 lines
    }
    draw();
    EXPECT_THAT(grid.row(3), StartsWith("    http://a.example/xxx"));
    EXPECT_EQ(grid.reverseText(3).substr(0, 20), "http://a.example/xxx");
    EXPECT_EQ(grid.row(21), std::string(80, 'x'));  // the last list row, filled
    // Down: the next URL shows below its client's row.
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.cursor = 2;
        screen.lastMove = 1;
    }
    draw();
    EXPECT_THAT(grid.text(), HasSubstr("    http://a.example/two"));
    EXPECT_EQ(screen.selectedRow.row.urlId, "0x2");
    // Above it, the lines of the tall row that reach into the window.
    EXPECT_EQ(grid.row(3), std::string(80, 'x'));
}

TEST_F(ScreenTest, TheSelectionFollowsItsRequestWhenTheRowsChange) {
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(twoClients());
        screen.cursor = 5;  // http://b.example/three
        screen.lastMove = 1;
    }
    draw();
    ASSERT_EQ(screen.selectedRow.row.urlId, "0x3");
    // The second client grows past the first: its rows come first now.
    ConnectionList grown = twoClients();
    grown[1].urls[1].size = 90000;  // 0x4 above 0x3
    grown[1].urls.push_back(screenRequest("0x5", "http://b.example/five", 50000));
    grown[1].size = 143000;
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(grown);
    }
    draw();
    EXPECT_EQ(screen.cursor, 3u);  // 10.0.0.2, 0x4, 0x5, 0x3
    EXPECT_EQ(screen.selectedRow.row.urlId, "0x3");
    // The request ends: the selection keeps its position.
    grown[1].urls[0] = screenRequest("0x6", "http://b.example/six", 1000);
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.setConnections(grown);
    }
    draw();
    EXPECT_EQ(screen.cursor, 3u);
    EXPECT_EQ(screen.selectedRow.row.urlId, "0x6");
}

TEST_F(ScreenTest, TheHelpScrollsWhenItDoesNotFit) {
    options.helpShown = true;
    draw();
    ASSERT_TRUE(screen.helpScrolls());
    EXPECT_EQ(grid.row(3).substr(0, 7), "Output:");
    EXPECT_THAT(grid.text(), Not(HasSubstr("Press '?' again to return")));
    screen.handleKey(keys::End);
    draw();
    EXPECT_EQ(grid.row(21).substr(0, 25), "Press '?' again to return");
    EXPECT_EQ(grid.row(22), dashes);
    screen.handleKey(keys::Home);
    draw();
    EXPECT_EQ(grid.row(3).substr(0, 7), "Output:");
    // On a screen where it fits, the keys move the list's selection as before.
    grid.resize(200, 60);
    draw();
    EXPECT_FALSE(screen.helpScrolls());
}

TEST_F(ScreenTest, SeveralProxiesEachGetAHeadingAndTheirOwnSelectionToggles) {
    options.host = "10.9.0.1:3128,10.9.0.2:3128,10.9.0.3:3128";
    grid.resize(120, 24);
    const auto wide = [](const std::string& text) {
        return (text + std::string(120, ' ')).substr(0, 120);
    };
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        // 10.0.0.2 is a client of the first two proxies.
        screen.setProxySample(0, 3, "10.9.0.1:3128", twoClients(), 2048, 0, 4);
        screen.setProxyError(1, 3, "10.9.0.2:3128", "Connection refused\nwhile connecting");
        screen.setProxySample(2, 3, "10.9.0.3:3128", {twoClients()[1]}, 1024, 0, 2);
    }
    draw();
    EXPECT_THAT(grid.row(0), HasSubstr("Connection refused while connecting"));
    EXPECT_EQ(grid.row(3), wide("Proxy 10.9.0.1:3128 (active connections: 4, active hosts: 2, "
                                "average speed: 2.0 KB/s)"));
    EXPECT_THAT(grid.row(4), StartsWith("  Host: 10.0.0.1"));
    EXPECT_EQ(grid.reverseText(4).substr(0, 10), "Host: 10.0");  // not the heading
    EXPECT_EQ(grid.row(12), wide("Proxy 10.9.0.2:3128: Connection refused while connecting"));
    EXPECT_EQ(grid.row(14), wide("Proxy 10.9.0.3:3128 (active connections: 2, active hosts: 1, "
                                 "average speed: 1.0 KB/s)"));
    EXPECT_THAT(grid.row(15), StartsWith("  Host: 10.0.0.2"));
    // Totals over every proxy; a client of two counts once.
    EXPECT_EQ(grid.row(23), wide("Average speed: 3.0 KB/s         Active hosts: 2         "
                                 "Active connections: 6"));

    // Up from the first client goes nowhere; down past a group's end skips
    // the separator and the next heading.
    screen.handleKey(keys::Home);
    draw();
    EXPECT_EQ(screen.cursor, 1u);
    EXPECT_EQ(screen.scrollOffset, 0u);
    EXPECT_EQ(grid.row(3).substr(0, 5), "Proxy");  // the heading shows with its group
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.cursor = 7;  // the last URL of the first proxy
        screen.lastMove = 1;
    }
    draw();
    screen.handleKey(keys::Down);
    draw();
    EXPECT_EQ(screen.selectedRow.connection.peer, "10.0.0.2");
    EXPECT_THAT(grid.reverseText(15), StartsWith("Host: 10.0.0.2"));

    // ENTER on that client hides its URLs under the third proxy only.
    screen.handleKey(keys::CarriageReturn);
    draw();
    EXPECT_THAT(screen.toggledConnections, ::testing::ElementsAre("10.9.0.3:3128 10.0.0.2"));
    EXPECT_THAT(grid.row(9), StartsWith("    http://b.example/three"));  // first proxy's, shown
    EXPECT_EQ(grid.row(16), std::string(120, ' '));                      // third's, hidden

    // A search finds a client under any proxy, from the top.
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.cursor = 0;
        screen.searchText = "three";
    }
    draw();
    EXPECT_EQ(screen.selectedRow.row.urlId, "10.9.0.1:3128 0x3");
}

TEST(TinyScreens, EverySizeDrawsWithinItsCells) {
    for (int columns = 1; columns <= 4; ++columns) {
        for (int lines = 1; lines <= 4; ++lines) {
            Options options;
            options.hosts = {"10.0.0.0/8"};
            options.users = {"alice"};
            options.refreshing = false;
            GridSurface grid(columns, lines);
            Screen screen(options, grid);
            std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
            screen.setConnections(twoClients());
            for (const bool help : {false, true}) {
                options.helpShown = help;
                screen.cursor = 3;
                screen.lastMove = 1;
                screen.draw();
                screen.errorText = "error text\nwith a line feed";
                screen.draw();
            }
            SUCCEED();
        }
    }
    // Very large screens too.
    Options options;
    GridSurface grid(1000, 500);
    Screen screen(options, grid);
    std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
    screen.setConnections(manyClients(50, 3));
    screen.draw();
    EXPECT_THAT(grid.row(3), StartsWith("  Host: 10.1.0.1"));
}

}  // namespace
}  // namespace reqwatch
