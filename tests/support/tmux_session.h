// A real terminal for tests: a detached tmux session on a private server
// socket, running one command, read back with capture-pane.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class TmuxSession {
  public:
    // Starts `command` (run by sh) in a window of the given size. The
    // session's server is private to this object and killed with it.
    TmuxSession(const std::string& command, int columns, int lines);
    ~TmuxSession();
    TmuxSession(const TmuxSession&) = delete;
    TmuxSession& operator=(const TmuxSession&) = delete;

    // The screen's text, one line per row, trailing blanks removed.
    std::string screen() const;
    std::vector<std::string> rows() const;
    // The screen with attributes as escape sequences (to see reverse video).
    std::string screenWithAttributes() const;
    // Whether the program shows the terminal's cursor.
    bool cursorVisible() const;

    // Keys by tmux name (Enter, Escape, Up, NPage, C-u, BSpace, ...).
    void sendKeys(const std::vector<std::string>& keys);
    // Text typed literally.
    void type(const std::string& text);
    void resize(int columns, int lines);

    // Polls the screen until the predicate holds; false after the timeout.
    bool waitFor(const std::function<bool(const std::string&)>& predicate,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
    bool waitForText(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;

  private:
    std::vector<std::string> tmux(std::vector<std::string> arguments) const;
    std::string run(const std::vector<std::string>& arguments) const;

    std::string socket_;
};

}  // namespace testsupport
