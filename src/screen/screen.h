// The interactive screen: the state that the keyboard loop and the refresh
// thread share, the lock that serialises them, and the drawing pass that
// paints the whole terminal from that state.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "app/options.h"
#include "cachemgr/records.h"
#include "screen/display_rows.h"
#include "screen/draw_surface.h"
#include "screen/error_checking_mutex.h"

namespace reqwatch {

// What the screen knows of one proxy among several.
struct ProxyView {
    std::string name;            // "host:port"
    ConnectionList connections;  // of its last good sample
    std::int64_t totalAverageSpeed = 0;
    std::int64_t totalCurrentSpeed = 0;
    std::int32_t requestCount = 0;
    std::string errorText;  // of its last fetch, when that failed
    bool answered = false;  // a fetch of it has ended
};

class Screen {
  public:
    using Clock = std::function<std::time_t()>;

    Screen(Options& options, DrawSurface& surface, Clock clock = {});
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    void startCurses();
    void endCurses();

    // A drawing pass under the lock, after taking down an expired status.
    void redraw();
    // Shows a failed fetch on the top line; takes the lock and redraws.
    void setError(const std::string& text);

    // The rest change state only; their caller holds `lock`.
    void clearError();
    void setStatus(const std::string& text);
    // A status message that shows even over a failure: the answer to a
    // key that the user must see.
    void showStatus(const std::string& text);
    void setTotals(std::int64_t averageSpeed, std::int64_t currentSpeed);
    void setRequestCount(std::int32_t count);
    void setConnections(ConnectionList list);
    // With several proxies: the sample, or the failure, of proxy `index` of
    // `count` named `name`; the totals, the top line's failure (the first
    // proxy's that failed) and the counts follow from all of them.
    void setProxySample(std::size_t index, std::size_t count, const std::string& name,
                        ConnectionList list, std::int64_t averageSpeed, std::int64_t currentSpeed,
                        std::int32_t requests);
    void setProxyError(std::size_t index, std::size_t count, const std::string& name,
                       const std::string& text);
    // Forgets every proxy's figures: the proxies changed.
    void clearProxies();
    // Takes down the status message once its lifetime has passed.
    void expireStatus();
    // The screen lines a text takes at the current width (see the free
    // function of the same name).
    std::int32_t fitOneLine(std::string& text);
    // The drawing pass; `lock` must be held.
    void draw();
    std::string helpText() const;
    // The ENTER key: expands or collapses the selected connection or URL.
    void toggleSelected();
    // Reads keys until the quit key (or `quitSignal`, or `quitRequested`
    // set by another thread); see keyboard_loop.cpp.
    void keyboardLoop();
    // Carries out one key of the keyboard loop, prompts included.
    void handleKey(int key);
    // The cursor keys while the help text does not fit: true when the key
    // scrolled it.
    bool scrollHelp(int key);
    // The one-line prompt on `row`: returns the answer, or throws the text
    // "invalid input" when the user cancels.
    std::string readLine(int row, const std::string& prompt, const std::string& initial);
    // Waits at most this long for a key (two tenths of a second), then reads it.
    static constexpr int keyWaitMilliseconds = 200;
    int nextKey();

    DrawSurface& surface() { return surface_; }
    std::time_t now() const { return clock_(); }

    std::int32_t messageLifetime = 2;
    std::string errorText;
    std::uint32_t cursor = 0;
    std::uint32_t pageStep = 10;
    StringList toggledConnections;
    StringList toggledUrls;
    std::string searchText;
    std::int64_t totalAverageSpeed = 0;
    std::int64_t totalCurrentSpeed = 0;
    std::int32_t requestCount = 0;
    // Change it only through setConnections, which tells the drawing pass
    // that its rows are out of date.
    ConnectionList connections;
    // One per proxy while there are several (then `connections` is unused),
    // at its place in the list once it has answered; empty with one. Change
    // them through setProxySample and setProxyError.
    std::vector<ProxyView> proxyViews;
    std::string statusText;
    std::time_t statusTime = 0;
    // No fetch has ended since the start or since the proxy or the password
    // changed: the top line says it is connecting.
    bool connecting = true;
    // Called under the lock when the user changed where or how to fetch
    // (host, port, password, refresh interval); the refresh thread then
    // drops the fetch under way and fetches at once.
    std::function<void()> onFetchSettingsChanged;
    bool quitRequested = false;
    // Raised from outside (a signal handler) to end the keyboard loop.
    const std::atomic<bool>* quitSignal = nullptr;
    // A failure that ended the run from the refresh thread.
    std::string fatalError;
    Options& options;
    ErrorCheckingMutex lock;
    SelectedRow selectedRow;
    std::int32_t lastMove = 0;
    std::uint32_t scrollOffset = 0;
    std::uint32_t firstVisibleRow = 0;
    Options rowOptions;
    // What the selection stood on at the last pass, and the cursor then:
    // while the cursor stays, the selection follows that client or request
    // when the rows change.
    SelectionKey selectionKey;
    std::uint32_t selectionKeyCursor = 0;
    // The first line of the help text shown, while it does not fit.
    std::uint32_t helpOffset = 0;
    // Whether the cursor keys scroll the help text: it did not fit the last
    // time it was drawn.
    bool helpScrolls() const { return helpScrollMax_ > 0; }
    std::uint32_t helpScrollMax() const { return helpScrollMax_; }

  private:
    // What the rows of a drawing pass follow from. The pass builds them anew
    // only when one of these changed; a key that only moves the selection
    // reuses the rows it built before.
    struct RowKey {
        std::uint64_t sample = 0;
        std::uint32_t top = 0;
        int columns = 0;
        bool brief = false;
        bool detail = false;
        bool full = false;
        bool zero = false;
        bool compactLongUrls = false;
        bool compactSameUrls = false;
        bool hostnameLookups = false;
        bool stripDomain = false;
        SpeedMode speedMode = BothSpeeds;
        SortOrder sortOrder = BySize;
        HostsMode hostsMode = NameAndIp;
        StringList hosts;
        StringList users;
        StringList toggledConnections;
        StringList toggledUrls;
        bool operator==(const RowKey&) const = default;
    };
    RowKey rowKey(std::uint32_t top) const;

    // Draws a heading text centred on a row when it fits one line, else from
    // column 0.
    void drawHeading(int row, const std::string& text, int lines);
    void drawTopLine();
    void drawHelp(std::uint32_t top);
    void drawTotals();
    ProxyView& proxyView(std::size_t index, std::size_t count, const std::string& name);
    // The totals, counts and top line failure of several proxies, anew.
    void sumProxies();
    std::string proxyHeading(const ProxyView& view) const;
    bool quitSignalled() const { return quitSignal != nullptr && quitSignal->load(); }
    // A prompt that asks for a value and applies it; `apply` runs under the
    // lock and may throw a text, shown as a status message.
    void prompt(const std::string& text, const std::string& initial,
                const std::function<void(const std::string&)>& apply, bool emptiesList);

    DrawSurface& surface_;
    Clock clock_;
    std::uint64_t sampleNumber_ = 0;  // counts the calls of setConnections
    bool rowsBuilt_ = false;
    RowKey builtFor_;
    ConnectionList shown_;          // the connections the rows were built from
    std::vector<RowGroup> groups_;  // of shown_, one per proxy while there are several
    const std::vector<RowGroup>* groupsOrNone() const {
        return groups_.empty() ? nullptr : &groups_;
    }
    std::int64_t activeHosts_ = 0;  // client addresses over every proxy
    std::vector<DisplayRow> rows_;
    std::uint32_t helpScrollMax_ = 0;
};

}  // namespace reqwatch
