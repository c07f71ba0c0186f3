#include "screen/display_rows.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "report/report_lines.h"
#include "screen/draw_surface.h"

namespace reqwatch {

namespace {

class TextSet {
  public:
    explicit TextSet(const StringList& list) : list_(list) {
        // A few entries are searched faster as they are.
        if (list.size() > 8) {
            set_.insert(list.begin(), list.end());
        }
    }
    bool contains(std::string_view text) const {
        return list_.size() > 8 ? set_.count(text) != 0 : listContains(list_, text);
    }

  private:
    const StringList& list_;
    std::unordered_set<std::string_view> set_;
};

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

int fitOneLine(std::string& text, int columns, bool compactLongUrls) {
    const std::size_t width = columns < 1 ? 1 : static_cast<std::size_t>(columns);
    const std::size_t length = text.size();
    const std::size_t lines = length / width + (length % width != 0 ? 1 : 0);
    if (lines < 2 || !compactLongUrls) {
        return lines > INT32_MAX ? INT32_MAX : static_cast<int>(lines);
    }
    if (width < 3) {
        text.resize(width);  // too narrow for "..."
        return 1;
    }
    const std::size_t cut = length - width + 3;
    const std::size_t position = length / 2 - cut / 2;
    text.replace(position, cut, "...");
    return 1;
}

bool matchesSearch(const Options& options, const Connection& connection,
                   const std::string& searchText) {
    if (searchText.empty()) {
        return false;
    }
    bool found = false;
    switch (options.hostsMode) {
        case NameAndIp:
            found =
                contains(connection.peer, searchText) || contains(connection.hostName, searchText);
            break;
        case NameOnly:
            found = contains(connection.hostName, searchText);
            break;
        case IpOnly:
            found = contains(connection.peer, searchText);
            break;
    }
    return found || listContainsSubstring(connection.users, searchText);
}

namespace {

// The options a row is drawn with: the live ones, adjusted for a toggled
// connection or URL.
void adjustOptions(const DisplayRow& row, const Options& options, Options& rowOptions) {
    rowOptions.brief = options.brief;
    rowOptions.detail = options.detail;
    rowOptions.full = options.full;
    rowOptions.compactLongUrls = options.compactLongUrls;
    if (row.url < 0) {
        if (row.toggled) {
            rowOptions.brief = !options.brief;
        }
    } else if (row.toggled) {
        rowOptions.detail = true;
        rowOptions.full = true;
        rowOptions.compactLongUrls = false;
    }
}

}  // namespace

std::string groupedKey(const std::string& groupKey, const std::string& text) {
    return groupKey.empty() ? text : groupKey + " " + text;
}

namespace {

std::vector<DisplayRow> buildRowsWith(const ConnectionList& shown, std::uint32_t top,
                                      const RowBuildInput& input, Options& rowOptions,
                                      bool allTexts) {
    const Options& options = input.options;
    const TextSet toggledConnections(input.toggledConnections);
    const TextSet toggledUrls(input.toggledUrls);
    rowOptions.copySettings(options);
    std::vector<DisplayRow> rows;
    std::size_t expected = 0;
    for (const auto& connection : shown) {
        expected += 2 + (options.brief ? 0 : connection.urls.size());
    }
    rows.reserve(expected);
    std::uint32_t y = top;
    // A row cut to one line is one line high whatever its text; any other
    // needs its text to know how many lines it takes.
    const auto add = [&](DisplayRow row) {
        row.line = y;
        if (!row.hidden) {
            adjustOptions(row, options, rowOptions);
            const bool cut = rowOptions.compactLongUrls;
            if (allTexts || !cut) {
                fillRowText(row, shown, input, rowOptions);
                std::string measured = row.text;
                row.height = static_cast<std::uint32_t>(fitOneLine(measured, input.columns, cut));
            } else {
                row.height = 1;
            }
        }
        y += row.height;
        rows.push_back(std::move(row));
    };
    const auto addConnections = [&](std::size_t begin, std::size_t end, std::int32_t group,
                                    const std::string& groupKey) {
        for (std::size_t k = begin; k < end; ++k) {
            const Connection& connection = shown[k];
            const bool toggled = toggledConnections.contains(groupedKey(groupKey, connection.peer));
            DisplayRow row;
            row.connection = static_cast<std::int32_t>(k);
            row.toggled = toggled;
            row.group = group;
            add(std::move(row));
            if (toggled == options.brief) {  // the URLs show
                for (std::size_t u = 0; u < connection.urls.size(); ++u) {
                    DisplayRow urlRow;
                    urlRow.connection = static_cast<std::int32_t>(k);
                    urlRow.url = static_cast<std::int32_t>(u);
                    urlRow.group = group;
                    urlRow.toggled =
                        !input.toggledUrls.empty() &&
                        toggledUrls.contains(groupedKey(groupKey, requestKey(connection.urls[u])));
                    add(std::move(urlRow));
                }
            }
            if (!options.brief || toggled) {
                DisplayRow separator;
                separator.hidden = true;
                separator.textBuilt = true;
                separator.group = group;
                add(std::move(separator));
            }
        }
    };
    if (input.groups == nullptr) {
        addConnections(0, shown.size(), -1, {});
    } else {
        for (std::size_t g = 0; g < input.groups->size(); ++g) {
            const RowGroup& group = (*input.groups)[g];
            // A blank line before every heading but the first.
            if (!rows.empty() && !rows.back().hidden) {
                DisplayRow separator;
                separator.hidden = true;
                separator.textBuilt = true;
                add(std::move(separator));
            }
            DisplayRow heading;
            heading.heading = true;
            heading.textBuilt = true;
            heading.group = static_cast<std::int32_t>(g);
            heading.text = group.heading;
            std::string measured = heading.text;
            heading.height = static_cast<std::uint32_t>(
                std::max(1, fitOneLine(measured, input.columns, options.compactLongUrls)));
            if (options.compactLongUrls) {
                heading.text = measured;
            }
            rows.push_back(std::move(heading));
            rows.back().line = y;
            y += rows.back().height;
            addConnections(group.begin, group.end, static_cast<std::int32_t>(g), group.key);
        }
    }
    // No separator after the last group.
    while (!rows.empty() && rows.back().hidden) {
        rows.pop_back();
    }
    rowOptions.copySettings(options);
    return rows;
}

}  // namespace

void fillRowText(DisplayRow& row, const ConnectionList& shown, const RowBuildInput& input,
                 Options& rowOptions) {
    if (row.textBuilt) {
        return;
    }
    row.textBuilt = true;
    if (row.hidden || row.connection < 0) {
        return;
    }
    const Connection& connection = shown[static_cast<std::size_t>(row.connection)];
    adjustOptions(row, input.options, rowOptions);
    if (row.url < 0) {
        row.text = connectionLine(rowOptions, connection);
    } else {
        const UrlEntry& url = connection.urls[static_cast<std::size_t>(row.url)];
        row.text = urlLine(rowOptions, connection, url);
        row.urlId = requestKey(url);
        if (input.groups != nullptr && row.group >= 0) {
            row.urlId =
                groupedKey((*input.groups)[static_cast<std::size_t>(row.group)].key, row.urlId);
        }
    }
    fitOneLine(row.text, input.columns, rowOptions.compactLongUrls);
    rowOptions.copySettings(input.options);
}

std::vector<DisplayRow> buildRowTexts(const ConnectionList& shown, std::uint32_t top,
                                      const RowBuildInput& input, Options& rowOptions) {
    return buildRowsWith(shown, top, input, rowOptions, true);
}

std::vector<DisplayRow> buildRows(const ConnectionList& shown, std::uint32_t top,
                                  const RowBuildInput& input, Options& rowOptions) {
    return buildRowsWith(shown, top, input, rowOptions, false);
}

std::optional<std::string> placeSelection(std::vector<DisplayRow>& rows,
                                          const ConnectionList& shown, const Options& rowOptions,
                                          Selection& selection) {
    const auto stepOffSeparator = [&selection] {
        // Before the first row there is none: the fix-up below looks forward.
        if (selection.lastMove >= 0 || selection.cursor > 0) {
            selection.cursor += selection.lastMove < 0 ? -1 : 1;
        }
    };
    if (selection.searchText.empty()) {
        if (selection.cursor < rows.size() && !rows[selection.cursor].selectable()) {
            stepOffSeparator();
        }
    } else {
        // In display order: a separator under the cursor moves it on, and the
        // first row that matches the search takes the selection.
        for (std::size_t i = 0; i < rows.size() && !selection.searchText.empty(); ++i) {
            const DisplayRow& row = rows[i];
            if (!row.selectable()) {
                if (selection.cursor == i) {
                    stepOffSeparator();
                }
                continue;
            }
            const Connection& connection = shown[static_cast<std::size_t>(row.connection)];
            const bool match =
                row.url < 0 ? matchesSearch(rowOptions, connection, selection.searchText)
                            : contains(connection.urls[static_cast<std::size_t>(row.url)].uri,
                                       selection.searchText);
            if (match) {
                selection.lastMove = i < selection.cursor ? -1 : 1;
                selection.cursor = static_cast<std::uint32_t>(i);
                selection.searchText.clear();
            }
        }
    }
    if (!rows.empty()) {
        const auto last = static_cast<std::uint32_t>(rows.size() - 1);
        selection.cursor = std::min(selection.cursor, last);
        // With proxy headings one step may land on another row that takes no
        // selection (a heading after a separator, or before the first row):
        // the nearest one that does, the way of the last move first.
        if (!rows[selection.cursor].selectable()) {
            const int way = selection.lastMove < 0 ? -1 : 1;
            for (const int direction : {way, -way}) {
                std::int64_t at = selection.cursor;
                while (at >= 0 && at <= last && !rows[static_cast<std::size_t>(at)].selectable()) {
                    at += direction;
                }
                if (at >= 0 && at <= last) {
                    selection.cursor = static_cast<std::uint32_t>(at);
                    break;
                }
            }
        }
        for (auto& row : rows) {
            row.selected = false;  // the rows may be those of an earlier pass
        }
        rows[selection.cursor].selected = true;
    }
    if (!selection.searchText.empty()) {
        std::string failed = std::move(selection.searchText);
        selection.searchText.clear();
        return failed;
    }
    return std::nullopt;
}

SelectionKey selectionKeyOf(const DisplayRow& row, const ConnectionList& shown,
                            const std::vector<RowGroup>* groups) {
    if (row.connection < 0) {
        return {};
    }
    const Connection& connection = shown[static_cast<std::size_t>(row.connection)];
    SelectionKey key{connection.peer, {}, {}};
    if (row.url >= 0) {
        key.request = requestKey(connection.urls[static_cast<std::size_t>(row.url)]);
    }
    if (groups != nullptr && row.group >= 0) {
        key.group = (*groups)[static_cast<std::size_t>(row.group)].key;
    }
    return key;
}

std::optional<std::uint32_t> findSelection(const std::vector<DisplayRow>& rows,
                                           const ConnectionList& shown, const SelectionKey& key,
                                           const std::vector<RowGroup>* groups) {
    if (key.peer.empty()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DisplayRow& row = rows[i];
        if (row.url >= 0 || row.connection < 0 ||
            shown[static_cast<std::size_t>(row.connection)].peer != key.peer) {
            continue;
        }
        if (groups != nullptr &&
            (row.group < 0 || (*groups)[static_cast<std::size_t>(row.group)].key != key.group)) {
            continue;
        }
        if (key.request.empty()) {
            return static_cast<std::uint32_t>(i);
        }
        // The client's URL rows follow its row.
        const Connection& connection = shown[static_cast<std::size_t>(row.connection)];
        for (std::size_t j = i + 1;
             j < rows.size() && rows[j].connection == row.connection && rows[j].url >= 0; ++j) {
            if (requestKey(connection.urls[static_cast<std::size_t>(rows[j].url)]) == key.request) {
                return static_cast<std::uint32_t>(j);
            }
        }
        return std::nullopt;  // the request is gone or hidden: the position stays
    }
    return std::nullopt;
}

void anchorWindow(const std::vector<DisplayRow>& rows, const Selection& selection,
                  std::uint32_t top, int lines, ListWindow& window) {
    if (rows.empty()) {
        return;
    }
    const std::size_t cursor = std::min<std::size_t>(selection.cursor, rows.size() - 1);
    const DisplayRow& selected = rows[cursor];
    // A proxy's heading shows with the first row of its group.
    const std::int64_t first =
        cursor > 0 && rows[cursor - 1].heading ? rows[cursor - 1].line : selected.line;
    const std::int64_t below = static_cast<std::int64_t>(selected.line) + selected.height;
    const std::int64_t height = lines;
    const std::int64_t offset = window.scrollOffset;
    bool anchored = false;
    if (selection.lastMove < 0 && first < offset + top) {
        window.scrollOffset = static_cast<std::uint32_t>(first - top);
        anchored = true;
    } else if ((selection.lastMove > 0 && below > height + offset - 3) ||
               window.firstVisibleRow >= rows.size()) {
        const std::int64_t scroll = below + 2 <= height - 1 ? 0 : below - height + 3;
        window.scrollOffset = static_cast<std::uint32_t>(std::max<std::int64_t>(scroll, 0));
        anchored = true;
    }
    // Whatever the last move, the window must suit this screen, which may
    // have changed size since, and these rows, which may have changed:
    // no more than one empty line below the last row while rows lie above
    // the window, and the selected row in view, from its start when it is
    // taller than the list area.
    const std::int64_t listHeight = height - 2 - top;  // rows top .. lines - 3
    const std::int64_t end = static_cast<std::int64_t>(rows.back().line) + rows.back().height;
    std::int64_t scroll = window.scrollOffset;
    scroll = std::min(scroll, std::max<std::int64_t>(end - height + 3, 0));
    if (first - scroll < top) {
        scroll = first - top;
    } else if (below - 1 - scroll > height - 3) {
        // As a move down would have it: its last line above the last list
        // row, unless that hides its start.
        scroll = below - first >= listHeight ? first - top : below - height + 3;
    }
    scroll = std::max<std::int64_t>(scroll, 0);
    if (scroll != offset || anchored || window.firstVisibleRow >= rows.size() ||
        rows[window.firstVisibleRow].line < scroll + top) {
        window.scrollOffset = static_cast<std::uint32_t>(scroll);
        // The lowest row that starts in the window.
        const auto found = std::lower_bound(
            rows.begin(), rows.end(), scroll + top,
            [](const DisplayRow& row, std::int64_t line) { return row.line < line; });
        window.firstVisibleRow = static_cast<std::uint32_t>(found - rows.begin());
        if (window.firstVisibleRow > cursor) {
            window.firstVisibleRow = static_cast<std::uint32_t>(cursor);
        }
    }
}

bool drawRows(DrawSurface& surface, const std::vector<DisplayRow>& rows, const ListWindow& window,
              std::uint32_t cursor, std::uint32_t top) {
    const std::int64_t lastListRow = static_cast<std::int64_t>(surface.lines()) - 3;
    const std::size_t columns = static_cast<std::size_t>(std::max(surface.columns(), 1));
    bool selectedDrawn = false;
    forEachRowInWindow(rows, window, top, surface.lines(), [&](std::size_t i) {
        const DisplayRow& row = rows[i];
        const std::int64_t firstRow =
            static_cast<std::int64_t>(row.line) - static_cast<std::int64_t>(window.scrollOffset);
        // Lines above the list area and below it are left out.
        const std::int64_t hiddenAbove = std::max<std::int64_t>(top - firstRow, 0);
        const std::int64_t screenRow = firstRow + hiddenAbove;
        if (!surface.moveTo(static_cast<int>(screenRow), 0)) {
            return;
        }
        const auto shownLines = static_cast<std::uint32_t>(
            std::min<std::int64_t>(row.height - hiddenAbove, lastListRow - screenRow + 1));
        std::string_view text = row.text;
        text = text.substr(std::min(text.size(), columns * static_cast<std::size_t>(hiddenAbove)));
        if (shownLines + hiddenAbove < row.height) {
            text = text.substr(0, columns * shownLines);
        }
        surface.addText(text);
        if (i != cursor) {
            return;
        }
        for (std::uint32_t part = 0; part < shownLines; ++part) {
            const std::size_t start = columns * part;
            if (start >= text.size()) {
                break;
            }
            const std::size_t length = std::min(columns, text.size() - start);
            const std::size_t blank = text.find_first_not_of(' ', start);
            if (blank == std::string::npos || blank >= start + length) {
                continue;
            }
            surface.reverseVideo(static_cast<int>(screenRow + part),
                                 static_cast<int>(blank - start),
                                 static_cast<int>(start + length - blank));
        }
        selectedDrawn = true;
    });
    return selectedDrawn;
}

}  // namespace reqwatch
