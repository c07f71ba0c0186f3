#include "screen/refresh_thread.h"

#include <exception>

#include "app/proxy_list.h"
#include "cachemgr/active_requests_query.h"
#include "screen/screen.h"

namespace reqwatch {

RefreshThread::RefreshThread(RefreshArgument argument, Fetch fetch)
    : argument_(argument), fetch_(std::move(fetch)) {
    if (!fetch_) {
        fetch_ = [](SampleState& state, const FetchSettings& settings, const CancelSignal* cancel) {
            return fetchActiveRequests(state, settings, cancel);
        };
    }
}

RefreshThread::~RefreshThread() {
    if (thread_.joinable()) {
        if (!stop()) {
            thread_.detach();
        }
    }
}

void RefreshThread::start() {
    thread_ = std::thread(&RefreshThread::run, this);
}

void RefreshThread::requestStop() {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    cancel_.request();
    wake_.notify_all();
}

bool RefreshThread::stop(std::chrono::milliseconds patience) {
    std::unique_lock<std::mutex> guard(lock_);
    stopping_ = true;
    cancel_.request();
    wake_.notify_all();
    if (!thread_.joinable()) {
        return true;
    }
    if (!wake_.wait_for(guard, patience, [this] { return finished_; })) {
        return false;
    }
    guard.unlock();
    thread_.join();
    return true;
}

bool RefreshThread::stopRequested() {
    std::lock_guard<std::mutex> guard(lock_);
    return stopping_;
}

void RefreshThread::restart() {
    std::lock_guard<std::mutex> guard(lock_);
    restarting_ = true;
    cancel_.request();
    wake_.notify_all();
}

RefreshThread::Wake RefreshThread::sleepOneSecond() {
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait_for(guard, std::chrono::seconds(1), [this] { return stopping_ || restarting_; });
    return stopping_ ? Wake::Stop : restarting_ ? Wake::Restart : Wake::Slept;
}

void RefreshThread::run() {
    Screen& screen = *argument_.screen;
    Options& options = *argument_.options;
    SampleState state;
    std::string endpoint;  // of the samples in `state`
    try {
        for (;;) {
            {
                // A restart asked for from here on cancels the fetch below.
                std::lock_guard<std::mutex> guard(lock_);
                if (stopping_) {
                    break;
                }
                cancel_.reset();
                restarting_ = false;
            }
            bool refreshing;
            FetchSettings settings;
            std::size_t proxies = 0;
            ProxyAddress address;
            {
                std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
                const auto list = proxiesOf(options);
                proxies = list.size();
                refreshing = options.refreshing && argument_.proxy < proxies;
                if (argument_.proxy < proxies) {
                    address = list[argument_.proxy];
                    settings = FetchSettings::from(options, address);
                }
                settings.timeoutMilliseconds = options.timeout > 0
                                                   ? std::int64_t{options.timeout} * 1000
                                                   : defaultTimeoutMilliseconds;
            }
            // Whether the proxy is still where it was in the list when the
            // fetch began: the answer of one that left is of no use.
            const auto stillListed = [&] {
                const auto list = proxiesOf(options);
                return argument_.proxy < list.size() && list[argument_.proxy] == address &&
                       list.size() == proxies;
            };
            const bool several = proxies > 1;
            // Requests of another proxy are no reference for current speeds.
            const std::string target = settings.host + " " + std::to_string(settings.port);
            if (target != endpoint) {
                state = SampleState{};
                endpoint = target;
            }
            if (refreshing) {
                try {
                    ConnectionList list = fetch_(state, settings, &cancel_);
                    std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
                    if (stopRequested()) {
                        break;
                    }
                    if (!stillListed()) {
                        continue;
                    }
                    if (several) {
                        screen.setProxySample(argument_.proxy, proxies, address.text(),
                                              std::move(list), state.totalAverageSpeed,
                                              state.totalCurrentSpeed, state.requestCount);
                    } else {
                        screen.clearError();
                        screen.connecting = false;
                        screen.setTotals(state.totalAverageSpeed, state.totalCurrentSpeed);
                        screen.setRequestCount(state.requestCount);
                        screen.setConnections(std::move(list));
                    }
                } catch (const sqstatException& error) {
                    if (stopRequested()) {
                        break;
                    }
                    bool listed;
                    {
                        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
                        listed = stillListed();
                        if (listed) {
                            screen.connecting = false;
                            if (several) {
                                screen.setProxyError(argument_.proxy, proxies, address.text(),
                                                     error.what());
                            }
                        }
                    }
                    if (!listed) {
                        continue;
                    }
                    if (!several) {
                        screen.setError(error.what());
                    }
                } catch (const FetchCancelled&) {
                    if (stopRequested()) {
                        break;
                    }
                    continue;  // restarted: at once, with the new settings
                }
                if (stopRequested()) {
                    break;
                }
                screen.redraw();
            }
            Wake wake = Wake::Slept;
            for (std::int32_t second = 0;; ++second) {
                std::int32_t interval;
                {
                    std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
                    interval = options.refreshInterval;
                }
                if (second >= interval) {
                    break;
                }
                wake = sleepOneSecond();
                if (wake != Wake::Slept) {
                    break;
                }
            }
            if (wake == Wake::Stop || stopRequested()) {
                break;
            }
        }
    } catch (const std::exception& failure) {
        // Anything else ends the run; the main thread restores the terminal
        // and reports it.
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        screen.fatalError = failure.what();
        screen.quitRequested = true;
    }
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    wake_.notify_all();
}

}  // namespace reqwatch
