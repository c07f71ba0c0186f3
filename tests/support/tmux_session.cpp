#include "support/tmux_session.h"

#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "support/process.h"

namespace testsupport {

namespace {

std::atomic<int> sessions{0};

}  // namespace

TmuxSession::TmuxSession(const std::string& command, int columns, int lines)
    : socket_("reqwatch-test-" + std::to_string(getpid()) + "-" + std::to_string(sessions++)) {
    const auto result =
        runCommand(tmux({"new-session", "-d", "-s", "test", "-x", std::to_string(columns), "-y",
                         std::to_string(lines), command}));
    if (result.status != 0) {
        throw std::runtime_error("tmux did not start: " + result.err);
    }
    // Keep the window as the test made it, whatever size a client would like.
    run({"set-option", "-g", "window-size", "manual"});
}

TmuxSession::~TmuxSession() {
    runCommand(tmux({"kill-server"}));
}

std::vector<std::string> TmuxSession::tmux(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"tmux", "-L", socket_, "-f", "/dev/null"});
    return arguments;
}

std::string TmuxSession::run(const std::vector<std::string>& arguments) const {
    return runCommand(tmux(arguments)).out;
}

std::string TmuxSession::screen() const {
    return run({"capture-pane", "-p", "-t", "test"});
}

std::vector<std::string> TmuxSession::rows() const {
    std::vector<std::string> result;
    const std::string text = screen();
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        result.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return result;
}

std::string TmuxSession::screenWithAttributes() const {
    return run({"capture-pane", "-p", "-e", "-t", "test"});
}

bool TmuxSession::cursorVisible() const {
    return run({"display-message", "-p", "-t", "test", "#{cursor_flag}"}) == "1\n";
}

void TmuxSession::sendKeys(const std::vector<std::string>& keys) {
    std::vector<std::string> arguments{"send-keys", "-t", "test"};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    run(arguments);
}

void TmuxSession::type(const std::string& text) {
    run({"send-keys", "-t", "test", "-l", text});
}

void TmuxSession::resize(int columns, int lines) {
    run({"resize-window", "-t", "test", "-x", std::to_string(columns), "-y",
         std::to_string(lines)});
}

bool TmuxSession::waitFor(const std::function<bool(const std::string&)>& predicate,
                          std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (predicate(screen())) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool TmuxSession::waitForText(const std::string& text, std::chrono::milliseconds timeout) const {
    return waitFor(
        [&text](const std::string& screen) { return screen.find(text) != std::string::npos; },
        timeout);
}

}  // namespace testsupport
