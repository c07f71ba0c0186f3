#include "screen/display_rows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "screen/grid_surface.h"
#include "screen_fixtures.h"

namespace reqwatch {
namespace {

using ::testing::ElementsAre;

struct Built {
    std::vector<DisplayRow> rows;
    Selection selection;
    std::optional<std::string> failed;
};

Built build(const ConnectionList& shown, const Options& options, Selection selection = {},
            const StringList& toggledConnections = {}, const StringList& toggledUrls = {},
            int columns = 80) {
    Options rowOptions;
    Built built;
    built.rows =
        buildRowTexts(shown, 3, {options, toggledConnections, toggledUrls, columns}, rowOptions);
    built.selection = std::move(selection);
    built.failed = placeSelection(built.rows, shown, rowOptions, built.selection);
    return built;
}

// Each row as kind:line — c connection, u URL, s separator.
std::vector<std::string> shape(const std::vector<DisplayRow>& rows) {
    std::vector<std::string> result;
    for (const auto& row : rows) {
        const char kind = row.hidden ? 's' : row.url < 0 ? 'c' : 'u';
        result.push_back(std::string(1, kind) + std::to_string(row.line));
    }
    return result;
}

TEST(FitOneLine, CountsLinesAndCutsTheMiddleOfLongTexts) {
    std::string text(100, 'x');
    for (int i = 0; i < 100; ++i) {
        text[static_cast<std::size_t>(i)] = static_cast<char>('a' + i % 26);
    }
    std::string wrapped = text;
    EXPECT_EQ(fitOneLine(wrapped, 80, false), 2);
    EXPECT_EQ(wrapped, text);
    std::string cut = text;
    EXPECT_EQ(fitOneLine(cut, 80, true), 1);
    EXPECT_EQ(cut, text.substr(0, 39) + "..." + text.substr(62));
    EXPECT_EQ(cut.size(), 80u);

    std::string exact(80, 'x');
    EXPECT_EQ(fitOneLine(exact, 80, true), 1);
    std::string empty;
    EXPECT_EQ(fitOneLine(empty, 80, true), 0);
    // Narrow screens never cut more than the text has.
    for (int width = -1; width <= 5; ++width) {
        std::string narrow = "abcdefgh";
        EXPECT_EQ(fitOneLine(narrow, width, true), 1) << width;
        EXPECT_EQ(narrow.size(), static_cast<std::size_t>(std::max(width, 1))) << width;
    }
}

TEST(BuildRows, GroupsWithSeparatorsAndTogglesInBothModes) {
    Options options;
    EXPECT_THAT(shape(build(twoClients(), options).rows),
                ElementsAre("c3", "u4", "u5", "s6", "c7", "u8", "u9"));
    // A toggled connection hides its URLs but keeps its separator.
    EXPECT_THAT(shape(build(twoClients(), options, {}, {"10.0.0.1"}).rows),
                ElementsAre("c3", "s4", "c5", "u6", "u7"));
    options.brief = true;
    EXPECT_THAT(shape(build(twoClients(), options).rows), ElementsAre("c3", "c4"));
    EXPECT_THAT(shape(build(twoClients(), options, {}, {"10.0.0.1"}).rows),
                ElementsAre("c3", "u4", "u5", "s6", "c7"));
    // Only the last one toggled: its trailing separator goes.
    EXPECT_THAT(shape(build(twoClients(), options, {}, {"10.0.0.2"}).rows),
                ElementsAre("c3", "c4", "u5", "u6"));

    const auto rows = build(twoClients(), options).rows;
    EXPECT_EQ(rows[0].text,
              "  Host: 10.0.0.1; User: alice (sessions: 2, size: 16KB, average "
              "speed: 1.7 KB/s)");
    EXPECT_EQ(rows[1].connection, 1);
    EXPECT_EQ(rows[1].urlId, "");
}

TEST(BuildRows, AToggledUrlShowsEveryDetailOnSeveralLines) {
    ConnectionList shown = {screenClient(
        "10.0.0.1", {screenRequest("0x1", "http://example/" + std::string(100, 'p'), 5000),
                     screenRequest("0x2", "http://example/short", 10)})};
    Options options;
    const auto plain = build(shown, options).rows;
    EXPECT_EQ(plain[1].height, 1u);
    EXPECT_NE(plain[1].text.find("..."), std::string::npos);
    const auto toggled = build(shown, options, {}, {}, {"0x1"}).rows;
    EXPECT_EQ(toggled[1].text, "    http://example/" + std::string(100, 'p') +
                                   " (size: 4KB, time: 10s, average speed: 0.5 KB/s, "
                                   "delay_pool: -1)");
    EXPECT_EQ(toggled[1].height, 3u);  // 183 characters on 80 columns
    EXPECT_EQ(toggled[2].line, toggled[1].line + 3);
}

TEST(PlaceSelection, TheCursorNeverRestsOnASeparatorAndIsClamped) {
    Options options;
    // Down from the last URL of the first group lands on the separator,
    // which moves the cursor on to the next connection.
    auto down = build(twoClients(), options, {3, 1, ""});
    EXPECT_EQ(down.selection.cursor, 4u);
    EXPECT_TRUE(down.rows[4].selected);
    // Up from the second connection lands on the last URL of the first group.
    EXPECT_EQ(build(twoClients(), options, {3, -1, ""}).selection.cursor, 2u);
    // Past the end (END, or DOWN at the last row): the last row.
    auto end = build(twoClients(), options, {4294967295u, 1, ""});
    EXPECT_EQ(end.selection.cursor, 6u);
    EXPECT_EQ(std::count_if(end.rows.begin(), end.rows.end(),
                            [](const DisplayRow& row) { return row.selected; }),
              1);
}

TEST(PlaceSelection, SearchSelectsTheFirstMatchInDisplayOrder) {
    ConnectionList shown = manyClients(5, 2);
    shown[2].urls[1].uri = "http://target/needle";
    shown[4].peer = "needle-peer";
    Options options;
    auto found = build(shown, options, {0, 0, "needle"});
    EXPECT_EQ(found.rows[found.selection.cursor].urlId, shown[2].urls[1].id);
    EXPECT_EQ(found.selection.lastMove, 1);
    EXPECT_EQ(found.selection.searchText, "");
    EXPECT_FALSE(found.failed);

    // Hidden URLs are not searched: in brief mode the peer matches.
    options.brief = true;
    auto brief = build(shown, options, {0, 0, "needle"});
    EXPECT_EQ(brief.selection.cursor, 4u);
    // Moving up to an earlier match sets the direction upwards.
    auto upward = build(shown, options, {4, 1, "10.1.0.2"});
    EXPECT_EQ(upward.selection.cursor, 1u);
    EXPECT_EQ(upward.selection.lastMove, -1);

    auto missing = build(shown, options, {2, 1, "nowhere"});
    EXPECT_EQ(missing.failed, std::optional<std::string>("nowhere"));
    EXPECT_EQ(missing.selection.searchText, "");
    EXPECT_EQ(missing.selection.cursor, 2u);
}

TEST(MatchesSearch, FollowsTheHostsModeAndAlwaysTheLogins) {
    Connection connection = screenClient("10.0.0.7", {}, {"alice"});
    connection.hostName = "ws7.example";
    Options options;
    struct Case {
        HostsMode mode;
        std::string text;
        bool matches;
    };
    const Case cases[] = {
        {NameAndIp, "ws7", true},   {NameAndIp, "0.0.7", true},
        {NameOnly, "0.0.7", false}, {NameOnly, "ws7", true},
        {IpOnly, "ws7", false},     {IpOnly, "10.0", true},
        {IpOnly, "lic", true},      {NameAndIp, "", false},
        {NameAndIp, "WS7", false},  {static_cast<HostsMode>(9), "ws7", false},
    };
    for (const auto& item : cases) {
        options.hostsMode = item.mode;
        EXPECT_EQ(matchesSearch(options, connection, item.text), item.matches) << item.text;
    }
}

// The window over 30 single-line rows on a screen of 12 lines: the list
// area is rows 3 to 9.
TEST(AnchorWindow, FollowsTheSelectionDownAndUp) {
    std::vector<DisplayRow> rows(30);
    for (std::uint32_t i = 0; i < rows.size(); ++i) {
        rows[i].line = 3 + i;
        rows[i].connection = 0;
    }
    ListWindow window;
    Selection selection{6, 1, ""};  // ends on row 9, the last list row
    anchorWindow(rows, selection, 3, 12, window);
    EXPECT_EQ(window.scrollOffset, 1u);
    EXPECT_EQ(window.firstVisibleRow, 1u);  // row 6 ends on screen row 8

    selection = {29, 1, ""};  // END
    anchorWindow(rows, selection, 3, 12, window);
    EXPECT_EQ(window.scrollOffset, 24u);
    EXPECT_EQ(window.firstVisibleRow, 24u);

    selection = {26, -1, ""};  // up, still in the window
    anchorWindow(rows, selection, 3, 12, window);
    EXPECT_EQ(window.firstVisibleRow, 24u);
    selection = {23, -1, ""};  // up, just above it: it becomes the first row
    anchorWindow(rows, selection, 3, 12, window);
    EXPECT_EQ(window.firstVisibleRow, 23u);
    EXPECT_EQ(window.scrollOffset, 23u);
    selection = {0, -1, ""};  // HOME
    anchorWindow(rows, selection, 3, 12, window);
    EXPECT_EQ(window.scrollOffset, 0u);
    EXPECT_EQ(window.firstVisibleRow, 0u);

    window.firstVisibleRow = 99;  // the list shrank under the window
    selection = {2, 0, ""};
    anchorWindow(rows, selection, 3, 12, window);
    EXPECT_EQ(window.firstVisibleRow, 0u);
}

TEST(DrawRows, DrawsTheWindowAndMarksTheSelectedRowFromItsText) {
    Options options;
    options.detail = true;
    options.compactLongUrls = false;
    // On 40 columns every row takes two lines: 3-4, 5-6, 7-8, ...
    const auto built = build(twoClients(), options, {1, 1, ""}, {}, {}, 40);
    ASSERT_EQ(built.rows[1].line, 5u);
    ASSERT_EQ(built.rows[1].height, 2u);
    GridSurface grid(40, 10);  // list area: rows 3 to 7
    ListWindow window;
    anchorWindow(built.rows, built.selection, 3, 10, window);
    EXPECT_EQ(window.scrollOffset, 0u);
    EXPECT_TRUE(drawRows(grid, built.rows, window, built.selection.cursor, 3));
    EXPECT_EQ(grid.row(3), "  Host: 10.0.0.1; User: alice (size: 16K");
    EXPECT_EQ(grid.row(5), "    http://a.example/one (size: 8KB, ave");
    EXPECT_EQ(grid.reverseText(5), "http://a.example/one (size: 8KB, ave");
    EXPECT_FALSE(grid.isReverse(5, 3));
    EXPECT_EQ(grid.reverseText(6), "rage speed: 0.9 KB/s)");  // the wrapped line
    EXPECT_EQ(grid.reverseText(3), "");
    // The third row would end on row 8, below the list area: not drawn.
    EXPECT_EQ(grid.row(7), std::string(40, ' '));
}

}  // namespace
}  // namespace reqwatch
