#include "support/tmux_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

TmuxControl::TmuxControl(const std::string& socketPath, const std::string& session)
    : session_(session) {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> arguments{"tmux",           "-S", socketPath, "-C",
                                       "attach-session", "-t", session};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    toClient_ = input[1];
    fromClient_ = output[0];
    if (spawned != 0) {
        pid_ = -1;
        close(toClient_);
        close(fromClient_);
        throw std::runtime_error(std::string("cannot start tmux: ") + std::strerror(spawned));
    }
    try {
        // The reply to the attach command comes first, unasked.
        readReply(std::chrono::steady_clock::now() + std::chrono::seconds(5), false);
        run("refresh-client -f no-output,ignore-size");
    } catch (...) {
        stop();
        throw;
    }
}

TmuxControl::~TmuxControl() {
    stop();
}

void TmuxControl::stop() {
    if (toClient_ >= 0) {
        close(toClient_);  // the client detaches at the end of its input
        toClient_ = -1;
    }
    if (fromClient_ >= 0) {
        close(fromClient_);
        fromClient_ = -1;
    }
    if (pid_ < 0) {
        return;
    }
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::string TmuxControl::run(const std::string& command, std::chrono::milliseconds timeout) {
    const std::string line = command + "\n";
    if (write(toClient_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        throw std::runtime_error("the tmux control client is gone");
    }
    return readReply(std::chrono::steady_clock::now() + timeout, true);
}

std::string TmuxControl::readLine(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd descriptor{fromClient_, POLLIN, 0};
        const int ready =
            poll(&descriptor, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            throw std::runtime_error("tmux did not answer in time");
        }
        char buffer[65536];
        const ssize_t count = read(fromClient_, buffer, sizeof buffer);
        if (count <= 0) {
            throw std::runtime_error("the tmux control client ended");
        }
        buffered_.append(buffer, static_cast<std::size_t>(count));
    }
}

std::string TmuxControl::readReply(std::chrono::steady_clock::time_point deadline, bool ours) {
    // A reply is "%begin TIME NUMBER FLAGS", its lines, and "%end" or
    // "%error" with the same numbers; FLAGS is 1 for a command of this
    // client. Notifications (%session-changed, ...) come between replies.
    for (;;) {
        const std::string begin = readLine(deadline);
        if (begin.rfind("%begin ", 0) != 0) {
            continue;
        }
        const std::string numbers = begin.substr(7);
        std::string text;
        for (;;) {
            const std::string line = readLine(deadline);
            if (line == "%end " + numbers || line == "%error " + numbers) {
                const bool fromUs =
                    numbers.size() >= 2 && numbers.compare(numbers.size() - 2, 2, " 1") == 0;
                if (fromUs != ours) {
                    break;  // not the reply we wait for
                }
                if (line.rfind("%error ", 0) == 0) {
                    throw std::runtime_error("tmux: " + text);
                }
                return text;
            }
            text += line + "\n";
        }
    }
}

}  // namespace testsupport
