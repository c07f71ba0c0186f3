#include "screen/screen.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include "app/proxy_list.h"
#include "cachemgr/manager_connection.h"
#include "common/saturating.h"
#include "report/report_lines.h"
#include "report/value_formatting.h"
#include "screen/help_text.h"
#include "select/client_filters.h"
#include "select/sort_orders.h"
#include "select/url_compaction.h"

namespace reqwatch {

namespace {

const std::string programLabel = std::string(programName) + "-" + programVersion;

int textLength(const std::string& text) {
    return text.size() > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX
                                                             : static_cast<int>(text.size());
}

}  // namespace

Screen::Screen(Options& liveOptions, DrawSurface& surface, Clock clock)
    : options(liveOptions), surface_(surface), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] { return std::time(nullptr); };
    }
    options.messageVisible = false;
    rowOptions.copySettings(options);
}

void Screen::startCurses() {
    surface_.start();
    surface_.showCursor(false);  // shown only at a prompt
}

void Screen::endCurses() {
    surface_.stop();
}

void Screen::redraw() {
    std::lock_guard<ErrorCheckingMutex> guard(lock);
    expireStatus();
    draw();
}

void Screen::setError(const std::string& text) {
    std::lock_guard<ErrorCheckingMutex> guard(lock);
    errorText = text;
    expireStatus();
    draw();
}

void Screen::clearError() {
    errorText.clear();
}

void Screen::setStatus(const std::string& text) {
    if (errorText.empty()) {
        showStatus(text);
    }
}

void Screen::showStatus(const std::string& text) {
    statusText = text;
    statusTime = now();
    options.messageVisible = true;
}

void Screen::setTotals(std::int64_t averageSpeed, std::int64_t currentSpeed) {
    totalAverageSpeed = averageSpeed;
    totalCurrentSpeed = currentSpeed;
}

void Screen::setRequestCount(std::int32_t count) {
    requestCount = count;
}

void Screen::setConnections(ConnectionList list) {
    connections = std::move(list);
    ++sampleNumber_;
}

ProxyView& Screen::proxyView(std::size_t index, std::size_t count, const std::string& name) {
    proxyViews.resize(count);
    ProxyView& view = proxyViews[index];
    if (view.name != name) {
        view = ProxyView{};  // another proxy at this place of the list
        view.name = name;
    }
    return view;
}

void Screen::setProxySample(std::size_t index, std::size_t count, const std::string& name,
                            ConnectionList list, std::int64_t averageSpeed,
                            std::int64_t currentSpeed, std::int32_t requests) {
    ProxyView& view = proxyView(index, count, name);
    view.connections = std::move(list);
    view.totalAverageSpeed = averageSpeed;
    view.totalCurrentSpeed = currentSpeed;
    view.requestCount = requests;
    view.errorText.clear();
    view.answered = true;
    sumProxies();
}

void Screen::setProxyError(std::size_t index, std::size_t count, const std::string& name,
                           const std::string& text) {
    ProxyView& view = proxyView(index, count, name);
    view.errorText = replaceAll(text, "\n", " ");  // its last good list stays
    view.answered = true;
    sumProxies();
}

void Screen::clearProxies() {
    proxyViews.clear();
    sumProxies();
}

void Screen::sumProxies() {
    totalAverageSpeed = 0;
    totalCurrentSpeed = 0;
    requestCount = 0;
    errorText.clear();
    std::unordered_set<std::string_view> clients;
    for (const auto& view : proxyViews) {
        totalAverageSpeed = saturatingAdd(totalAverageSpeed, view.totalAverageSpeed);
        totalCurrentSpeed = saturatingAdd(totalCurrentSpeed, view.totalCurrentSpeed);
        requestCount = static_cast<std::int32_t>(
            std::min<std::int64_t>(INT32_MAX, std::int64_t{requestCount} + view.requestCount));
        if (errorText.empty() && !view.errorText.empty()) {
            errorText = view.errorText;  // the first failure, as with one proxy
        }
        if (view.answered) {
            connecting = false;
        }
        for (const auto& connection : view.connections) {
            clients.insert(connection.peer);
        }
    }
    activeHosts_ = static_cast<std::int64_t>(clients.size());
    ++sampleNumber_;
}

std::string Screen::proxyHeading(const ProxyView& view) const {
    std::string text = "Proxy " + view.name;
    if (!view.errorText.empty()) {
        return text + ": " + view.errorText;
    }
    if (!view.answered) {
        return text + ": connecting";
    }
    text += " (active connections: " + formatNumber(view.requestCount) +
            ", active hosts: " + formatNumber(static_cast<std::int64_t>(view.connections.size()));
    const std::string speed =
        speedSummary(options.speedMode, view.totalAverageSpeed, view.totalCurrentSpeed);
    if (!speed.empty()) {
        text += ", " + speed;
    }
    return text + ")";
}

Screen::RowKey Screen::rowKey(std::uint32_t top) const {
    return {sampleNumber_,
            top,
            surface_.columns(),
            options.brief,
            options.detail,
            options.full,
            options.zero,
            options.compactLongUrls,
            options.compactSameUrls,
            options.hostnameLookups,
            options.stripDomain,
            options.speedMode,
            options.sortOrder,
            options.hostsMode,
            options.hosts,
            options.users,
            toggledConnections,
            toggledUrls};
}

void Screen::expireStatus() {
    if (options.messageVisible && now() - statusTime > messageLifetime) {
        options.messageVisible = false;
    }
}

std::int32_t Screen::fitOneLine(std::string& text) {
    return reqwatch::fitOneLine(text, surface_.columns(), rowOptions.compactLongUrls);
}

std::string Screen::helpText() const {
    return reqwatch::helpText(options);
}

void Screen::toggleSelected() {
    StringList& list = selectedRow.row.urlId.empty() ? toggledConnections : toggledUrls;
    // A URL row's id carries its proxy already; a client's address gets it.
    const std::size_t group = static_cast<std::size_t>(selectedRow.row.group);
    const std::string key =
        !selectedRow.row.urlId.empty()
            ? selectedRow.row.urlId
            : groupedKey(selectedRow.row.group >= 0 && group < groups_.size() ? groups_[group].key
                                                                              : std::string(),
                         selectedRow.connection.peer);
    if (listContains(list, key)) {
        removeFromList(list, key);
    } else {
        list.push_back(key);
    }
}

void Screen::drawHeading(int row, const std::string& text, int lines) {
    const int column = lines < 2 ? surface_.columns() / 2 - textLength(text) / 2 : 0;
    if (column >= 0 && surface_.moveTo(row, column)) {
        surface_.addText(text);
    }
}

void Screen::drawTopLine() {
    const int columns = surface_.columns();
    if (options.messageVisible) {
        const std::string text = " " + statusText + " ";
        if (surface_.moveTo(0, 0)) {
            surface_.addText(text);
            surface_.reverseVideo(0, 0, textLength(text));
        }
    } else if (!errorText.empty()) {
        errorText = replaceAll(errorText, "\n", " ");
        // Centred; a failure wider than the screen shows as much of itself as
        // fits rather than nothing at all.
        const int length = std::min(textLength(errorText), std::max(columns, 0));
        const int column = std::max(columns / 2 - textLength(errorText) / 2, 0);
        if (surface_.moveTo(0, column)) {
            surface_.addText(
                std::string_view(errorText).substr(0, static_cast<std::size_t>(length)));
            surface_.reverseVideo(0, column, length);
        }
    } else {
        if (surface_.moveTo(0, 0)) {
            std::string proxies;
            for (const auto& proxy : proxiesOf(options)) {
                proxies += (proxies.empty() ? "" : ", ") + proxy.text();
            }
            surface_.addText((connecting ? "Connecting to " : "Connected to ") + proxies);
        }
        const int column = columns - textLength(programLabel);
        if (column >= 0 && surface_.moveTo(0, column)) {
            surface_.addText(programLabel);
        }
    }
}

void Screen::drawHelp(std::uint32_t top) {
    // The help text line by line from helpOffset, as far as the list area
    // goes; when it does not fit, the cursor keys scroll it.
    const int columns = std::max(surface_.columns(), 1);
    const int lastRow = surface_.lines() - 3;
    const StringList lines = splitString(helpText(), "\n");
    const auto heightOf = [columns](const std::string& line) {
        return std::max<int>(1, static_cast<int>((line.size() + columns - 1) / columns));
    };
    // The first line from which the rest fits.
    int room = lastRow - static_cast<int>(top) + 1;
    std::size_t lastStart = lines.size();
    while (lastStart > 0 && heightOf(lines[lastStart - 1]) <= room) {
        room -= heightOf(lines[--lastStart]);
    }
    helpScrollMax_ = static_cast<std::uint32_t>(lastStart);
    helpOffset = std::min(helpOffset, helpScrollMax_);
    int row = static_cast<int>(top);
    for (std::size_t i = helpOffset; i < lines.size(); ++i) {
        const int height = heightOf(lines[i]);
        if (row + height - 1 > lastRow) {
            break;
        }
        if (surface_.moveTo(row, 0)) {
            surface_.addText(lines[i]);
        }
        row += height;
    }
}

void Screen::drawTotals() {
    std::string text = speedSummary(options.speedMode, totalAverageSpeed, totalCurrentSpeed);
    if (!text.empty()) {
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
    const std::int64_t hosts =
        groups_.empty() ? static_cast<std::int64_t>(connections.size()) : activeHosts_;
    text += "\t\tActive hosts: " + formatNumber(hosts);
    text += "\t\tActive connections: " + formatNumber(requestCount) + "\t\t";
    if (surface_.moveTo(surface_.lines() - 1, 0)) {
        surface_.addText(text);
    }
}

void Screen::draw() {
    if (options.promptActive) {
        return;  // a prompt owns the top line
    }
    surface_.eraseAll();
    rowOptions.copySettings(options);
    const int lines = surface_.lines();

    int y = 3;
    if (!options.hosts.empty()) {
        std::string text = "Filtering by: " + joinStrings(options.hosts, ", ");
        const int height = fitOneLine(text);
        drawHeading(1, text, height);
        y = height + 3;
    }
    if (!options.users.empty()) {
        std::string text = "Filtering by users: " + joinStrings(options.users, ", ");
        const int height = fitOneLine(text);
        drawHeading(y - 2, text, height);
        y += height;
    }
    if (!options.refreshing) {
        const int column = surface_.columns() / 2 - 15;
        if (column >= 0 && surface_.moveTo(y - 2, column)) {
            surface_.addText("Statistics refreshing disabled");
        }
        y += 1;
    }
    const auto top = static_cast<std::uint32_t>(y);

    RowBuildInput input{options, toggledConnections, toggledUrls, surface_.columns()};
    RowKey key = rowKey(top);
    if (!rowsBuilt_ || !(key == builtFor_)) {
        // The selection follows its client or request into the new rows; a
        // key that moved the cursor since the last pass moved it to the row
        // at the cursor in the old rows.
        bool follow = cursor == selectionKeyCursor;
        if (!follow && rowsBuilt_ && !rows_.empty()) {
            selectionKey = selectionKeyOf(rows_[std::min<std::size_t>(cursor, rows_.size() - 1)],
                                          shown_, groupsOrNone());
            follow = true;
        }
        // Filtered, merged and sorted on a copy: the sample itself stays.
        // With several proxies, each proxy's clients in a group of their own.
        const auto prepare = [this](ConnectionList list) {
            filterConnections(list, options);
            if (options.compactSameUrls) {
                compactUrls(list);
            }
            sortConnections(list, options.sortOrder);
            return list;
        };
        groups_.clear();
        const auto proxies = proxiesOf(options);
        if (proxies.size() < 2) {
            shown_ = prepare(connections);
        } else {
            // In the order of the list, also for proxies that have not
            // answered yet.
            shown_.clear();
            for (std::size_t i = 0; i < proxies.size(); ++i) {
                const std::string name = proxies[i].text();
                ProxyView waiting;
                waiting.name = name;
                const ProxyView& view =
                    i < proxyViews.size() && proxyViews[i].name == name ? proxyViews[i] : waiting;
                ConnectionList group = prepare(view.connections);
                const std::size_t begin = shown_.size();
                shown_.insert(shown_.end(), std::make_move_iterator(group.begin()),
                              std::make_move_iterator(group.end()));
                groups_.push_back({proxyHeading(view), name, begin, shown_.size()});
            }
        }
        input.groups = groupsOrNone();
        rows_ = buildRows(shown_, top, input, rowOptions);
        builtFor_ = std::move(key);
        rowsBuilt_ = true;
        if (follow) {
            if (const auto followed = findSelection(rows_, shown_, selectionKey, groupsOrNone())) {
                cursor = *followed;
            }
        }
    }
    rowOptions.copySettings(options);
    const ConnectionList& shown = shown_;
    std::vector<DisplayRow>& rows = rows_;
    Selection selection{cursor, lastMove, std::move(searchText)};
    const auto failedSearch = placeSelection(rows, shown, rowOptions, selection);
    cursor = selection.cursor;
    lastMove = selection.lastMove;
    searchText = std::move(selection.searchText);
    if (failedSearch) {
        setStatus("Failed to find '" + *failedSearch + "'");
    }
    if (!rows.empty()) {
        selectionKey = selectionKeyOf(rows[cursor], shown, groupsOrNone());
        selectionKeyCursor = cursor;
    }

    drawTopLine();
    surface_.horizontalLine(y - 2);
    if (options.helpShown) {
        drawHelp(top);
    } else if (!rows.empty()) {
        ListWindow window{scrollOffset, firstVisibleRow};
        anchorWindow(rows, selection, top, lines, window);
        scrollOffset = window.scrollOffset;
        firstVisibleRow = window.firstVisibleRow;
        // Only the rows on screen need their texts.
        input.groups = groupsOrNone();
        forEachRowInWindow(rows, window, top, lines,
                           [&](std::size_t i) { fillRowText(rows[i], shown, input, rowOptions); });
        if (drawRows(surface_, rows, window, cursor, top)) {
            const DisplayRow& row = rows[cursor];
            selectedRow.row = row;
            selectedRow.connection = row.connection >= 0
                                         ? shown[static_cast<std::size_t>(row.connection)]
                                         : Connection{};
        }
    }
    surface_.horizontalLine(lines - 2);
    drawTotals();
    surface_.placeCursor(lines - 1, surface_.columns() - 1);
    surface_.flush();
}

}  // namespace reqwatch
