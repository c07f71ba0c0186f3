// The rows of the interactive list: one per client connection, one per shown
// URL below it, and a hidden separator between groups; the selection that
// moves over them; and the window over the rows that follows the selection.
// Everything here is plain data and arithmetic, free of the terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/options.h"
#include "cachemgr/records.h"

namespace reqwatch {

class DrawSurface;

struct DisplayRow {
    std::string text;              // see textBuilt
    std::uint32_t line = 0;        // virtual line of the row's first screen line
    std::uint32_t height = 1;      // screen lines it takes
    std::int32_t connection = -1;  // index into the shown list; -1 for a separator
    std::string urlId;             // request key of the URL of a URL row (see textBuilt)
    std::int32_t url = -1;         // index of that URL in its connection's list
    bool hidden = false;           // a separator: never drawn, never selected
    bool selected = false;
    // A connection row shown the other way round (URLs hidden or shown), or a
    // URL row shown with every detail.
    bool toggled = false;
    // Whether `text` and `urlId` are filled in: rows are built without them
    // where they are not needed to know the row's height, and get them when
    // they are drawn.
    bool textBuilt = false;
    // With several proxies: the heading line of a proxy's group, drawn but
    // never selected; and the group every row belongs to (-1 with one proxy).
    bool heading = false;
    std::int32_t group = -1;

    bool selectable() const { return !hidden && !heading; }
};

// With several proxies the shown connections come in one group per proxy,
// each under a heading line; toggles and the selection of one proxy's rows
// are told from another's by the group's key.
struct RowGroup {
    std::string heading;    // the heading line's text
    std::string key;        // the proxy, as "host:port"
    std::size_t begin = 0;  // the group's connections in the shown list
    std::size_t end = 0;
};

// What toggles and the selection know a connection or request by: its own
// text, after its group's key when there are groups.
std::string groupedKey(const std::string& groupKey, const std::string& text);

// The selected row as it was last drawn, with a copy of its connection.
struct SelectedRow {
    DisplayRow row;
    Connection connection;
};

// The number of screen lines of `columns` cells a text takes. When it takes
// more than one and `compactLongUrls` is set, its middle is replaced by "..."
// so that it fits one line exactly, and 1 is returned.
int fitOneLine(std::string& text, int columns, bool compactLongUrls);

// Whether the search text is in the connection's address or name (as the
// hosts mode shows the client) or in one of its logins.
bool matchesSearch(const Options& options, const Connection& connection,
                   const std::string& searchText);

struct RowBuildInput {
    const Options& options;  // the live settings
    const StringList& toggledConnections;
    const StringList& toggledUrls;
    int columns;
    const std::vector<RowGroup>* groups = nullptr;  // none with one proxy
};

// The rows for the shown connections (filtered, merged and sorted), the first
// one at virtual line `top`; the trailing separator is already removed.
// `rowOptions` is the working copy that each row adjusts. Every row has its
// text.
std::vector<DisplayRow> buildRowTexts(const ConnectionList& shown, std::uint32_t top,
                                      const RowBuildInput& input, Options& rowOptions);

// The same rows, with texts only where a row's height needs it (a row that
// is cut to one line is one line high whatever its text); fillRowText gives
// the others theirs.
std::vector<DisplayRow> buildRows(const ConnectionList& shown, std::uint32_t top,
                                  const RowBuildInput& input, Options& rowOptions);
void fillRowText(DisplayRow& row, const ConnectionList& shown, const RowBuildInput& input,
                 Options& rowOptions);

// The selection over built rows: carries out a pending search, keeps the
// cursor off separators and within the rows, and marks the selected row.
// Returns the text of a search that found nothing.
struct Selection {
    std::uint32_t cursor = 0;
    std::int32_t lastMove = 0;
    std::string searchText;
};
std::optional<std::string> placeSelection(std::vector<DisplayRow>& rows,
                                          const ConnectionList& shown, const Options& rowOptions,
                                          Selection& selection);

// What the selection stands on, so that it can follow its client or request
// when the rows are built anew: the client's address, and the request's key
// for a URL row.
struct SelectionKey {
    std::string peer;
    std::string request;
    std::string group;  // the proxy's key, with several
    bool operator==(const SelectionKey&) const = default;
};
SelectionKey selectionKeyOf(const DisplayRow& row, const ConnectionList& shown,
                            const std::vector<RowGroup>* groups = nullptr);
// The row of that client or request; none when it is not shown.
std::optional<std::uint32_t> findSelection(const std::vector<DisplayRow>& rows,
                                           const ConnectionList& shown, const SelectionKey& key,
                                           const std::vector<RowGroup>* groups = nullptr);

// Which part of the rows the list window shows.
struct ListWindow {
    std::uint32_t scrollOffset = 0;     // virtual line at the top of the window
    std::uint32_t firstVisibleRow = 0;  // index of the first row drawn
};

// Anchors the window for the selected row, for a list area from row `top` to
// row lines - 3, then makes it valid for this size of the screen: no row
// above `top`, the selected row in view (its start, when it is taller than
// the area), and no more than one empty line below the last row while rows
// are hidden above.
void anchorWindow(const std::vector<DisplayRow>& rows, const Selection& selection,
                  std::uint32_t top, int lines, ListWindow& window);

// Calls `use` with the index of every row the window shows, in order.
template <typename Use>
void forEachRowInWindow(const std::vector<DisplayRow>& rows, const ListWindow& window,
                        std::uint32_t top, int lines, Use&& use);

// Draws the rows in the window, the selected one with its reverse-video bar;
// true when the selected row was drawn. A row taller than the list area
// shows as many of its lines as fit, and one that starts above the window
// the lines that reach into it.
bool drawRows(DrawSurface& surface, const std::vector<DisplayRow>& rows, const ListWindow& window,
              std::uint32_t cursor, std::uint32_t top);

template <typename Use>
void forEachRowInWindow(const std::vector<DisplayRow>& rows, const ListWindow& window,
                        std::uint32_t top, int lines, Use&& use) {
    const std::int64_t lastListRow = static_cast<std::int64_t>(lines) - 3;
    const std::int64_t windowTop = static_cast<std::int64_t>(window.scrollOffset) + top;
    // A tall row that starts above the window shows its lines that reach into it.
    for (std::size_t back = window.firstVisibleRow; back > 0 && back + 2 > window.firstVisibleRow;
         --back) {
        const DisplayRow& row = rows[back - 1];
        if (row.hidden) {
            continue;
        }
        if (row.line < windowTop && row.line + row.height > windowTop &&
            windowTop <= lastListRow + window.scrollOffset) {
            use(back - 1);
        }
        break;
    }
    bool first = true;
    for (std::size_t i = window.firstVisibleRow; i < rows.size(); ++i) {
        const DisplayRow& row = rows[i];
        if (row.hidden) {
            continue;
        }
        const std::int64_t screenRow =
            static_cast<std::int64_t>(row.line) - static_cast<std::int64_t>(window.scrollOffset);
        if (screenRow < static_cast<std::int64_t>(top)) {
            continue;
        }
        if (screenRow > lastListRow || (screenRow + row.height - 1 > lastListRow && !first)) {
            break;
        }
        use(i);
        first = false;
    }
}

}  // namespace reqwatch
