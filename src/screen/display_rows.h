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
    std::string text;
    std::uint32_t line = 0;        // virtual line of the row's first screen line
    std::uint32_t height = 1;      // screen lines it takes
    std::int32_t connection = -1;  // index into the shown list; -1 for a separator
    std::string urlId;             // id of the URL of a URL row
    std::int32_t url = -1;         // index of that URL in its connection's list
    bool hidden = false;           // a separator: never drawn, never selected
    bool selected = false;
};

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
};

// The rows for the shown connections (filtered, merged and sorted), the first
// one at virtual line `top`; the trailing separator is already removed.
// `rowOptions` is the working copy that each row adjusts.
std::vector<DisplayRow> buildRowTexts(const ConnectionList& shown, std::uint32_t top,
                                      const RowBuildInput& input, Options& rowOptions);

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

// Which part of the rows the list window shows.
struct ListWindow {
    std::uint32_t scrollOffset = 0;     // virtual line at the top of the window
    std::uint32_t firstVisibleRow = 0;  // index of the first row drawn
};

// Anchors the window for the selected row, for a list area from row `top` to
// row lines - 3.
void anchorWindow(const std::vector<DisplayRow>& rows, const Selection& selection,
                  std::uint32_t top, int lines, ListWindow& window);

// Draws the rows in the window, the selected one with its reverse-video bar;
// true when the selected row was drawn.
bool drawRows(DrawSurface& surface, const std::vector<DisplayRow>& rows, const ListWindow& window,
              std::uint32_t cursor);

}  // namespace reqwatch
