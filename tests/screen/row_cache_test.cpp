// A drawing pass reuses the rows of the pass before when nothing they follow
// from has changed. Every change that alters the text must show exactly as a
// screen drawing from scratch shows it.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "screen/grid_surface.h"
#include "screen/screen.h"
#include "screen_fixtures.h"
#include "support/kept_text.h"

namespace reqwatch {
namespace {

ConnectionList sampleWithNames(int variant) {
    ConnectionList list = manyClients(6, 3);
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i].hostName = "host" + std::to_string(i) + ".example.org";
        list[i].users = {"user" + std::to_string(i % 2), "other"};
        list[i].currentSpeed = static_cast<std::int64_t>(i) * 5000;
        list[i].maxTime = 60 * static_cast<std::int64_t>(i);
        list[i].urls[0].uri =
            testsupport::keep(std::string(list[i].urls[0].uri) + std::string(120, 'x'));  // long
        list[i].urls[1].uri = list[i].urls[2].uri;  // a repeat to merge
        list[i].urls[1].count = 1;
        list[i].size += variant * 1000 * static_cast<std::int64_t>(i);
    }
    return list;
}

class RowCache : public ::testing::Test {
  protected:
    RowCache() : grid(90, 40), screen(options, grid, [] { return std::time_t{100}; }) {
        screen.setConnections(sampleWithNames(0));
    }

    // Draws the screen under test and one that starts from nothing in the
    // same state; both must show the same cells.
    void expectSameAsFresh(const std::string& change) {
        Options freshOptions;
        freshOptions.copySettings(options);
        freshOptions.hosts = options.hosts;
        freshOptions.users = options.users;
        freshOptions.refreshing = options.refreshing;
        GridSurface freshGrid(grid.columns(), grid.lines());
        Screen fresh(freshOptions, freshGrid, [] { return std::time_t{100}; });
        fresh.setConnections(screen.connections);
        fresh.toggledConnections = screen.toggledConnections;
        fresh.toggledUrls = screen.toggledUrls;
        fresh.cursor = screen.cursor;
        fresh.selectionKey = screen.selectionKey;
        fresh.selectionKeyCursor = screen.selectionKeyCursor;
        fresh.lastMove = screen.lastMove;
        fresh.searchText = screen.searchText;
        fresh.scrollOffset = screen.scrollOffset;
        fresh.firstVisibleRow = screen.firstVisibleRow;
        {
            std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
            screen.draw();
        }
        {
            std::lock_guard<ErrorCheckingMutex> guard(fresh.lock);
            fresh.draw();
        }
        EXPECT_EQ(grid.text(), freshGrid.text()) << "after " << change;
        for (int row = 0; row < grid.lines(); ++row) {
            EXPECT_EQ(grid.reverseText(row), freshGrid.reverseText(row))
                << "after " << change << ", row " << row;
        }
        EXPECT_EQ(screen.cursor, fresh.cursor) << change;
        if (!screen.connections.empty()) {  // otherwise the old snapshot stays
            EXPECT_EQ(screen.selectedRow.row.text, fresh.selectedRow.row.text) << change;
        }
    }

    Options options;
    GridSurface grid;
    Screen screen;
};

TEST_F(RowCache, EveryChangeOfWhatTheRowsShowRebuildsThem) {
    const std::vector<std::pair<std::string, std::function<void()>>> changes = {
        {"a cursor move", [&] { screen.cursor = 5, screen.lastMove = 1; }},
        {"brief", [&] { options.brief = !options.brief; }},
        {"brief back", [&] { options.brief = !options.brief; }},
        {"detail", [&] { options.detail = true; }},
        {"full", [&] { options.full = true; }},
        {"zero", [&] { options.zero = true; }},
        {"compactLongUrls", [&] { options.compactLongUrls = false; }},
        {"compactSameUrls", [&] { options.compactSameUrls = false; }},
        {"hostnameLookups", [&] { options.hostnameLookups = false; }},
        {"hostnameLookups back", [&] { options.hostnameLookups = true; }},
        {"stripDomain", [&] { options.stripDomain = false; }},
        {"speedMode", [&] { options.speedMode = CurrentOnly; }},
        {"sortOrder current", [&] { options.sortOrder = ByCurrentSpeed; }},
        {"sortOrder time", [&] { options.sortOrder = ByMaxTime; }},
        {"hostsMode", [&] { options.hostsMode = NameOnly; }},
        {"hosts filter", [&] { options.hosts = {"10.1.0.0/24"}; }},
        {"narrower hosts filter",
         [&] {
             options.hosts = {"10.1.0.2", "10.1.0.4"};
         }},
        {"users filter", [&] { options.users = {"user1"}; }},
        {"no filters", [&] { options.hosts.clear(), options.users.clear(); }},
        {"refreshing off (the list moves down)", [&] { options.refreshing = false; }},
        {"a toggled connection", [&] { screen.toggledConnections.push_back("10.1.0.3"); }},
        {"a toggled URL",
         [&] { screen.toggledUrls.push_back(requestKey(screen.connections[1].urls[0])); }},
        {"a new sample", [&] { screen.setConnections(sampleWithNames(7)); }},
        {"a narrower terminal", [&] { grid.resize(60, 40); }},
        {"END", [&] { screen.cursor = 4294967295u, screen.lastMove = 1; }},
        {"a search", [&] { screen.searchText = "host2"; }},
        {"an emptied list", [&] { screen.setConnections({}); }},
    };
    for (const auto& [name, change] : changes) {
        change();
        expectSameAsFresh(name);
    }
}

TEST_F(RowCache, ACursorKeyAloneReusesTheRows) {
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.draw();
        // Changing the sample behind the screen's back shows whether the
        // next pass rebuilt the rows.
        screen.connections[0].peer = "changed";
        screen.cursor = 1;
        screen.lastMove = 1;
        screen.draw();
    }
    EXPECT_EQ(grid.text().find("changed"), std::string::npos);
    EXPECT_EQ(screen.cursor, 1u);
    EXPECT_TRUE(grid.isReverse(4, 4));
}

}  // namespace
}  // namespace reqwatch
