#include "screen/interactive_run.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <mutex>

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

    RefreshThread refresh({&screen, &options});
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.onFetchSettingsChanged = [&refresh] { refresh.restart(); };
    }
    {
        SignalsBlocked blocked;
        options.resolver.startWorkers();
        options.resolver.mode = Async;
        refresh.start();
    }
    std::string failure;
    try {
        screen.keyboardLoop();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    const bool stopped = refresh.stop();
    screen.endCurses();
    if (!stopped) {
        // The refresh thread is inside a name lookup that cannot be cut
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
