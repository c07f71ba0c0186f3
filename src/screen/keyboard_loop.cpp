#include <algorithm>
#include <climits>
#include <mutex>

#include "app/proxy_list.h"
#include "app/settings_file.h"
#include "report/value_formatting.h"
#include "screen/key_codes.h"
#include "screen/line_editor.h"
#include "screen/screen.h"

namespace reqwatch {

namespace {

const char* onOff(bool flag) {
    return flag ? " ON" : " OFF";
}

// The next value of a cycling setting with `count` values.
template <typename Enumeration>
Enumeration nextValue(Enumeration value, std::int32_t count) {
    const auto number = static_cast<std::int32_t>(value);
    return static_cast<Enumeration>(number >= 0 && number < count - 1 ? number + 1 : 0);
}

// The keys that switch a setting on or off, with the name the status line
// gives it.
struct Toggle {
    int key;
    bool Options::*flag;
    const char* name;
};

constexpr Toggle toggles[] = {
    {'b', &Options::brief, "Brief output"},
    {'d', &Options::detail, "Detailed output"},
    {'f', &Options::full, "Showing full details"},
    {'z', &Options::zero, "Showing zero values"},
    {'c', &Options::compactSameUrls, "Compacting same urls"},
    {'C', &Options::compactLongUrls, "Compacting long urls"},
    {'n', &Options::hostnameLookups, "Hostname lookups"},
    {'S', &Options::stripDomain, "Hostname domain part stripping"},
};

const Toggle* findToggle(int key) {
    for (const auto& toggle : toggles) {
        if (toggle.key == key) {
            return &toggle;
        }
    }
    return nullptr;
}

}  // namespace

int Screen::nextKey() {
    // The wait holds no lock, so the refresh thread may draw meanwhile; the
    // read does, so that only one thread at a time touches the terminal.
    surface_.waitForKey(keyWaitMilliseconds);
    std::lock_guard<ErrorCheckingMutex> guard(lock);
    return surface_.readKey();
}

void Screen::keyboardLoop() {
    for (;;) {
        {
            std::lock_guard<ErrorCheckingMutex> guard(lock);
            if (quitRequested || quitSignalled()) {
                return;
            }
        }
        const int key = nextKey();
        if (key == keys::None) {
            continue;
        }
        handleKey(key);
        redraw();
    }
}

std::string Screen::readLine(int row, const std::string& prompt, const std::string& initial) {
    LineEditor editor(initial);
    // The terminal's cursor shows where the answer is edited, and only there.
    struct CursorShown {
        Screen& screen;
        explicit CursorShown(Screen& owner) : screen(owner) {
            std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
            screen.surface_.showCursor(true);
        }
        ~CursorShown() {
            std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
            screen.surface_.showCursor(false);
        }
    } shown(*this);
    const auto show = [&] {
        const LineEditor::View view =
            editor.view(surface_.columns(), static_cast<int>(prompt.size()));
        if (surface_.moveTo(row, 0)) {
            surface_.addText(prompt);
            surface_.addText("> ");
            surface_.addText(view.shown);
            surface_.clearToLineEnd();
        }
        surface_.placeCursor(row, view.cursorColumn);
        surface_.flush();
    };
    {
        std::lock_guard<ErrorCheckingMutex> guard(lock);
        show();
    }
    for (;;) {
        const int key = nextKey();
        std::lock_guard<ErrorCheckingMutex> guard(lock);
        if (quitSignalled()) {
            throw std::string("invalid input");
        }
        bool bell = false;
        const LineEditor::Outcome outcome = editor.handleKey(key, bell);
        if (bell) {
            surface_.ring();
        }
        show();
        if (outcome == LineEditor::Outcome::Accept) {
            return editor.text();
        }
        if (outcome == LineEditor::Outcome::Cancel) {
            throw std::string("invalid input");
        }
    }
}

void Screen::prompt(const std::string& text, const std::string& initial,
                    const std::function<void(const std::string&)>& apply, bool emptiesList) {
    {
        std::lock_guard<ErrorCheckingMutex> guard(lock);
        options.promptActive = true;
    }
    std::string answer;
    bool answered = false;
    std::string failure;
    try {
        answer = readLine(0, text, initial);
        answered = true;
    } catch (const std::string& message) {
        failure = message;
    }
    std::lock_guard<ErrorCheckingMutex> guard(lock);
    bool applied = false;
    if (answered) {
        try {
            apply(answer);
            applied = true;
        } catch (const std::string& message) {
            failure = message;
        }
    }
    if (emptiesList) {
        setConnections({});
        clearProxies();
        if (applied) {
            // What the top line said was about the proxy as it was.
            clearError();
            connecting = true;
            if (onFetchSettingsChanged) {
                onFetchSettingsChanged();
            }
        }
    }
    if (!failure.empty()) {
        setStatus(failure);
    }
    options.promptActive = false;
}

bool Screen::scrollHelp(int key) {
    switch (key) {
        case keys::Up:
            helpOffset = helpOffset > 0 ? helpOffset - 1 : 0;
            return true;
        case keys::Down:
            helpOffset = std::min(helpOffset + 1, helpScrollMax());
            return true;
        case keys::PageUp:
            helpOffset = helpOffset > pageStep ? helpOffset - pageStep : 0;
            return true;
        case keys::PageDown:
            helpOffset = std::min(helpOffset + pageStep, helpScrollMax());
            return true;
        case keys::Home:
            helpOffset = 0;
            return true;
        case keys::End:
            helpOffset = helpScrollMax();
            return true;
        default:
            return false;
    }
}

void Screen::handleKey(int key) {
    switch (key) {
        case 'h':
            prompt(
                "Squid host", options.host,
                [this](const std::string& answer) {
                    if (!answer.empty()) {
                        parseProxyList(answer, options.port);  // throws what is wrong
                        options.host = answer;
                    }
                },
                true);
            return;
        case 'p':
            prompt(
                "Squid port", formatNumber(options.port),
                [this](const std::string& answer) {
                    if (answer.empty()) {
                        return;
                    }
                    const std::int64_t port = parseInteger(answer);
                    if (port < 1 || port > 65535) {
                        throw std::string("Invalid port");
                    }
                    options.port = static_cast<std::int32_t>(port);
                },
                true);
            return;
        case 'P':
            prompt(
                "Cachemgr password", options.pass,
                [this](const std::string& answer) { options.pass = answer; }, true);
            return;
        case 'r':
            prompt(
                "Refresh interval (sec)", formatNumber(options.refreshInterval),
                [this](const std::string& answer) {
                    const std::int64_t interval = parseInteger(answer);
                    if (interval > 0 && interval <= INT32_MAX) {
                        options.refreshInterval = static_cast<std::int32_t>(interval);
                        if (onFetchSettingsChanged) {
                            onFetchSettingsChanged();
                        }
                    } else {
                        setStatus("Invalid refresh interval");
                    }
                },
                false);
            return;
        case 'H':
            prompt(
                "Hosts to show", joinStrings(options.hosts, ","),
                [this](const std::string& answer) { options.hosts = splitString(answer, ","); },
                false);
            return;
        case 'u':
            prompt(
                "Users to show", joinStrings(options.users, ","),
                [this](const std::string& answer) { options.users = splitLogins(answer); }, false);
            return;
        case '/':
            prompt(
                "Search for", "",
                [this](const std::string& answer) {
                    if (!answer.empty()) {
                        searchText = answer;
                    }
                },
                false);
            return;
        default:
            break;
    }

    std::lock_guard<ErrorCheckingMutex> guard(lock);
    if (const Toggle* toggle = findToggle(key)) {
        bool& flag = options.*(toggle->flag);
        flag = !flag;
        if (toggle->flag == &Options::brief) {
            // Rows opened or closed by hand belong to the old layout.
            toggledConnections.clear();
        } else if (toggle->flag == &Options::full && flag) {
            options.detail = true;
        }
        setStatus(std::string(toggle->name) + onOff(flag));
        return;
    }
    if (options.helpShown && helpScrolls() && scrollHelp(key)) {
        return;
    }
    switch (key) {
        case 'q':
            quitRequested = true;
            break;
        case '?':
            options.helpShown = !options.helpShown;
            break;
        case ' ':
            options.refreshing = !options.refreshing;
            break;
        case keys::CarriageReturn:
        case keys::Enter:
            toggleSelected();
            break;
        case keys::Up:
            if (cursor > 0) {
                --cursor;
                lastMove = -1;
            }
            break;
        case keys::Down:
            if (cursor < UINT32_MAX) {
                ++cursor;
            }
            lastMove = 1;
            break;
        case keys::Home:
            cursor = 0;
            lastMove = -1;
            break;
        case keys::End:
            cursor = UINT32_MAX;
            lastMove = 1;
            break;
        case keys::PageDown:
            cursor = cursor > UINT32_MAX - pageStep ? UINT32_MAX : cursor + pageStep;
            lastMove = static_cast<std::int32_t>(pageStep);
            break;
        case keys::PageUp:
            cursor = cursor > pageStep ? cursor - pageStep : 0;
            lastMove = -static_cast<std::int32_t>(pageStep);
            break;
        case 's':
            options.speedMode = nextValue(options.speedMode, 3);
            setStatus("Speed showing mode - " + settingName(options.speedMode));
            break;
        case 'o':
            options.sortOrder = nextValue(options.sortOrder, 4);
            setStatus("Connections sort order - " + settingName(options.sortOrder));
            break;
        case 'R':
            options.hostsMode = nextValue(options.hostsMode, 3);
            setStatus("Hosts showing mode - " + settingName(options.hostsMode));
            break;
        case 'w': {
            // The answer to the user's own request shows over a failure.
            const auto failure = writeSettingsFile(options.settingsPath, options);
            showStatus(failure ? *failure : "Settings saved to " + options.settingsPath);
            break;
        }
        default:
            setStatus("Press ? for help");
            break;
    }
}

}  // namespace reqwatch
