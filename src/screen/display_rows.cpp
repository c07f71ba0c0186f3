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

std::vector<DisplayRow> buildRowTexts(const ConnectionList& shown, std::uint32_t top,
                                      const RowBuildInput& input, Options& rowOptions) {
    const Options& options = input.options;
    const TextSet toggledConnections(input.toggledConnections);
    const TextSet toggledUrls(input.toggledUrls);
    rowOptions.copySettings(options);
    std::vector<DisplayRow> rows;
    std::uint32_t y = top;
    const auto append = [&rows, &y](std::string text, std::uint32_t height, std::int32_t connection,
                                    std::string urlId, std::int32_t url, bool hidden) {
        rows.push_back(
            {std::move(text), y, height, connection, std::move(urlId), url, hidden, false});
        y += height;
    };
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const Connection& connection = shown[k];
        const bool toggled = toggledConnections.contains(connection.peer);
        rowOptions.brief = toggled ? !options.brief : options.brief;
        rowOptions.detail = options.detail;
        rowOptions.full = options.full;
        rowOptions.compactLongUrls = options.compactLongUrls;
        std::string text = connectionLine(rowOptions, connection);
        const int height = fitOneLine(text, input.columns, rowOptions.compactLongUrls);
        append(std::move(text), static_cast<std::uint32_t>(height), static_cast<std::int32_t>(k),
               {}, -1, false);
        if (!rowOptions.brief) {
            for (std::size_t u = 0; u < connection.urls.size(); ++u) {
                const UrlEntry& url = connection.urls[u];
                rowOptions.brief = options.brief;
                std::string key = requestKey(url);
                const bool expanded = toggledUrls.contains(key);
                rowOptions.detail = expanded || options.detail;
                rowOptions.full = expanded || options.full;
                rowOptions.compactLongUrls = !expanded && options.compactLongUrls;
                std::string line = urlLine(rowOptions, connection, url);
                const int lines = fitOneLine(line, input.columns, rowOptions.compactLongUrls);
                append(std::move(line), static_cast<std::uint32_t>(lines),
                       static_cast<std::int32_t>(k), std::move(key), static_cast<std::int32_t>(u),
                       false);
            }
        }
        if (!options.brief || toggled) {
            append({}, 1, -1, {}, -1, true);
        }
    }
    if (!options.brief && !rows.empty()) {
        rows.pop_back();
    }
    if (!rows.empty() && rows.back().hidden) {
        rows.pop_back();
    }
    return rows;
}

std::optional<std::string> placeSelection(std::vector<DisplayRow>& rows,
                                          const ConnectionList& shown, const Options& rowOptions,
                                          Selection& selection) {
    const auto stepOffSeparator = [&selection] {
        selection.cursor += selection.lastMove < 0 ? -1 : 1;
    };
    if (selection.searchText.empty()) {
        if (selection.cursor < rows.size() && rows[selection.cursor].hidden) {
            stepOffSeparator();
        }
    } else {
        // In display order: a separator under the cursor moves it on, and the
        // first row that matches the search takes the selection.
        for (std::size_t i = 0; i < rows.size() && !selection.searchText.empty(); ++i) {
            const DisplayRow& row = rows[i];
            if (row.hidden) {
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

void anchorWindow(const std::vector<DisplayRow>& rows, const Selection& selection,
                  std::uint32_t top, int lines, ListWindow& window) {
    if (rows.empty()) {
        return;
    }
    const std::size_t cursor = std::min<std::size_t>(selection.cursor, rows.size() - 1);
    const DisplayRow& selected = rows[cursor];
    const std::int64_t first = selected.line;
    const std::int64_t below = first + selected.height;
    const std::int64_t offset = window.scrollOffset;
    const std::int64_t height = lines;
    if (selection.lastMove < 0 && first < offset + top) {
        window.firstVisibleRow = static_cast<std::uint32_t>(cursor);
        window.scrollOffset = static_cast<std::uint32_t>(first - top);
        return;
    }
    if ((selection.lastMove > 0 && below > height + offset - 3) ||
        window.firstVisibleRow >= rows.size()) {
        const std::int64_t scroll = below + 2 <= height - 1 ? 0 : below - height + 3;
        window.scrollOffset = static_cast<std::uint32_t>(scroll);
        // The lowest row above the selection that still starts in the window.
        const auto begin = rows.begin();
        auto found = std::lower_bound(
            begin, begin + static_cast<std::ptrdiff_t>(cursor), scroll + top,
            [](const DisplayRow& row, std::int64_t line) { return row.line < line; });
        if (found != begin + static_cast<std::ptrdiff_t>(cursor) && found->hidden) {
            ++found;
        }
        window.firstVisibleRow = static_cast<std::uint32_t>(found - begin);
    }
}

bool drawRows(DrawSurface& surface, const std::vector<DisplayRow>& rows, const ListWindow& window,
              std::uint32_t cursor) {
    const std::int64_t lastListRow = static_cast<std::int64_t>(surface.lines()) - 3;
    const std::size_t columns = static_cast<std::size_t>(std::max(surface.columns(), 1));
    bool selectedDrawn = false;
    for (std::size_t i = window.firstVisibleRow; i < rows.size(); ++i) {
        const DisplayRow& row = rows[i];
        if (row.hidden) {
            continue;
        }
        const std::int64_t screenRow =
            static_cast<std::int64_t>(row.line) - static_cast<std::int64_t>(window.scrollOffset);
        if (screenRow + row.height - 1 > lastListRow) {
            break;
        }
        if (screenRow < 0 || !surface.moveTo(static_cast<int>(screenRow), 0)) {
            continue;
        }
        surface.addText(row.text);
        if (i != cursor) {
            continue;
        }
        for (std::uint32_t part = 0; part < row.height; ++part) {
            const std::size_t start = columns * part;
            if (start >= row.text.size()) {
                break;
            }
            const std::size_t length = std::min(columns, row.text.size() - start);
            const std::size_t blank = row.text.find_first_not_of(' ', start);
            if (blank == std::string::npos || blank >= start + length) {
                continue;
            }
            surface.reverseVideo(static_cast<int>(screenRow + part),
                                 static_cast<int>(blank - start),
                                 static_cast<int>(start + length - blank));
        }
        selectedDrawn = true;
    }
    return selectedDrawn;
}

}  // namespace reqwatch
