// A control-mode client (tmux -C) of a running tmux server. Commands go down
// one pipe and their answers come back on another, with no new process per
// command, so that a test can read a pane in a tight loop at the cost of a
// fraction of a millisecond per look instead of a tmux process each.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace testsupport {

class TmuxControl {
  public:
    // Attaches to `session` of the server listening on `socketPath` (what
    // $TMUX holds in a pane, up to its first comma). The client asks for no
    // pane output and leaves the window size alone.
    TmuxControl(const std::string& socketPath, const std::string& session);
    // Detaches and stops the client by its process id.
    ~TmuxControl();
    TmuxControl(const TmuxControl&) = delete;
    TmuxControl& operator=(const TmuxControl&) = delete;

    // Runs one tmux command and returns its output; throws
    // std::runtime_error when tmux reports an error or does not answer.
    std::string run(const std::string& command,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // The session's visible screen, as capture-pane -p gives it.
    std::string screen() { return run("capture-pane -p -t " + session_); }
    // Types a key by its tmux name (a letter types itself).
    void sendKey(const std::string& key) { run("send-keys -t " + session_ + " " + key); }

  private:
    void stop();
    // The next line from the client, without its newline.
    std::string readLine(std::chrono::steady_clock::time_point deadline);
    // The lines of the next reply block of one of our commands.
    std::string readReply(std::chrono::steady_clock::time_point deadline, bool ours);

    std::string session_;
    pid_t pid_ = -1;
    int toClient_ = -1;
    int fromClient_ = -1;
    std::string buffered_;
};

}  // namespace testsupport
