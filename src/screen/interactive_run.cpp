#include "screen/interactive_run.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <vector>

#include "app/proxy_list.h"
#include "screen/curses_surface.h"
#include "screen/refresh_thread.h"
#include "screen/screen.h"
#include "screen/terminal_capabilities.h"

namespace reqwatch {

namespace {

std::atomic<bool> quitSignal{false};

void onQuitSignal(int) {
    quitSignal.store(true);
}

// Threads started while it lives keep these signals blocked, so that the
// terminal library's resize handler and the quit handler run on the main
// thread, whose key reads they interrupt.
class SignalsBlocked {
  public:
    SignalsBlocked() {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (const int signal : {SIGWINCH, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            sigaddset(&blocked, signal);
        }
        pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

  private:
    sigset_t previous_;
};

void installQuitHandlers() {
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

int runInteractive(Options& options) {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        std::cerr << "The interactive display needs a terminal; use --once for a report.\n";
        return 1;
    }
    if (const auto shortcoming = terminalShortcoming()) {
        std::cerr << "The interactive display needs a terminal that can move its cursor ("
                  << *shortcoming << "); use --once for a report.\n";
        return 1;
    }
    CursesSurface surface;
    Screen screen(options, surface);
    screen.startCurses();
    installQuitHandlers();
    screen.quitSignal = &quitSignal;
    // The frame comes at once, before any reply: "Connecting to ...".
    screen.redraw();

    // One refresh thread per proxy, so that a slow or dead one holds up
    // only its own figures. A longer list at the "h" prompt adds threads;
    // a thread whose place the list no longer has waits.
    std::vector<std::unique_ptr<RefreshThread>> refreshes;
    const auto addRefreshes = [&](std::size_t count) {
        SignalsBlocked blocked;  // signals stay with the main thread
        while (refreshes.size() < count) {
            refreshes.push_back(std::make_unique<RefreshThread>(
                RefreshArgument{&screen, &options, refreshes.size()}));
            refreshes.back()->start();
        }
    };
    {
        SignalsBlocked blocked;
        options.resolver.startWorkers();
        options.resolver.mode = Async;
    }
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.onFetchSettingsChanged = [&] {
            addRefreshes(proxiesOf(options).size());
            for (auto& refresh : refreshes) {
                refresh->restart();
            }
        };
        addRefreshes(proxiesOf(options).size());
    }
    std::string failure;
    try {
        screen.keyboardLoop();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // All asked at once, then each waited for within the same patience.
    for (auto& refresh : refreshes) {
        refresh->requestStop();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(900);
    bool stopped = true;
    for (auto& refresh : refreshes) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        stopped = refresh->stop(std::max(left, std::chrono::milliseconds(0))) && stopped;
    }
    screen.endCurses();
    if (!stopped) {
        // A refresh thread is inside a name lookup that cannot be cut
        // short; it will draw nothing more, and the process ends without it.
        if (!failure.empty()) {
            std::cerr << failure << "\n";
        }
        std::fflush(stdout);
        std::_Exit(failure.empty() ? 0 : 1);
    }
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        if (failure.empty()) {
            failure = screen.fatalError;
        }
    }
    if (!failure.empty()) {
        std::cerr << failure << "\n";
        return 1;
    }
    return 0;
}

}  // namespace reqwatch
