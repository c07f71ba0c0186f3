// The background thread of the interactive run: fetch a sample, hand it to
// the screen, redraw, wait for the refresh interval, and again.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "app/options.h"
#include "cachemgr/cancel_signal.h"
#include "cachemgr/fetch_settings.h"
#include "cachemgr/records.h"

namespace reqwatch {

class Screen;

struct RefreshArgument {
    Screen* screen = nullptr;
    Options* options = nullptr;
    // Which proxy of the options' list the thread fetches; it waits while
    // the list is shorter.
    std::size_t proxy = 0;
};

// Owns the thread and the means to stop it wherever it waits: in the
// one-second steps of the wait, and in every network wait of a fetch.
class RefreshThread {
  public:
    using Fetch =
        std::function<ConnectionList(SampleState&, const FetchSettings&, const CancelSignal*)>;

    // The fetch is fetchActiveRequests unless a test gives another.
    explicit RefreshThread(RefreshArgument argument, Fetch fetch = {});
    ~RefreshThread();
    RefreshThread(const RefreshThread&) = delete;
    RefreshThread& operator=(const RefreshThread&) = delete;

    void start();
    // Asks the thread to stop and waits for it at most `patience`. False when
    // it is still inside a call that cannot be interrupted (a slow name
    // lookup); it then draws nothing more and ends on its own.
    bool stop(std::chrono::milliseconds patience = std::chrono::milliseconds(900));
    // Asks it to stop, without waiting: for stopping several at once.
    void requestStop();
    // Gives up the fetch under way, or the wait, and fetches at once with
    // the settings as they are now: the user changed where or how to fetch.
    void restart();

    // The longest a fetch may take without a time limit of the user's.
    static constexpr std::int64_t defaultTimeoutMilliseconds = 30000;

  private:
    enum class Wake { Slept, Restart, Stop };

    void run();
    bool stopRequested();
    // Sleeps one second, or less when asked to stop or restart meanwhile.
    Wake sleepOneSecond();

    RefreshArgument argument_;
    Fetch fetch_;
    CancelSignal cancel_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool restarting_ = false;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace reqwatch
