#include "resolver/host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace reqwatch {

// Everything the worker touches. The worker holds its own reference, so the
// state stays valid while a lookup is in flight after the resolver is gone.
struct HostResolver::SharedState {
    explicit SharedState(LookupFunction function) : lookupFunction(std::move(function)) {}

    const LookupFunction lookupFunction;
    std::mutex lock;
    std::condition_variable wake;
    // An entry whose value equals its key is in flight or has no name.
    std::map<std::string, std::string, std::less<>> cache;
    std::deque<std::string> queue;
    std::unordered_set<std::string> queued;  // the addresses in `queue`
};

namespace {

struct WorkerArgument {
    std::shared_ptr<HostResolver::SharedState> state;
    std::int32_t index;
};

[[noreturn]] void resolverWorker(WorkerArgument argument) {
    auto& state = *argument.state;
    std::unique_lock<std::mutex> guard(state.lock);
    for (;;) {
        state.wake.wait(guard, [&state] { return !state.queue.empty(); });
        std::string address = std::move(state.queue.front());
        state.queue.pop_front();
        state.queued.erase(address);
        state.cache[address] = address;
        guard.unlock();
        std::string name = state.lookupFunction(address);
        guard.lock();
        state.cache[address] = std::move(name);
    }
}

bool isPrintableName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (c < 0x21 || c > 0x7e) {
            return false;
        }
    }
    return true;
}

}  // namespace

HostResolver::HostResolver() : HostResolver(&HostResolver::resolveAddress) {}

HostResolver::HostResolver(LookupFunction lookupFunction)
    : lookupFunction_(std::move(lookupFunction)) {}

HostResolver::~HostResolver() = default;

void HostResolver::startWorkers() {
    if (shared_) {
        return;
    }
    threadCount_ = 1;
    shared_ = std::make_shared<SharedState>(lookupFunction_);
    method_ = "GETNAMEINFO";
    for (std::int32_t index = 0; index < threadCount_; ++index) {
        try {
            std::thread(resolverWorker, WorkerArgument{shared_, index}).detach();
        } catch (const std::system_error&) {
            // Without a worker, lookups keep answering with the address.
        }
    }
}

std::string HostResolver::lookup(const std::string& address) {
    if (mode != Async) {
        return lookupFunction_(address);
    }
    if (!shared_) {
        return address;  // no worker: never wait for the name service
    }
    auto& state = *shared_;
    bool queuedNow = false;
    std::string answer;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        const auto cached = state.cache.find(address);
        if (cached != state.cache.end()) {
            answer = cached->second;
        } else {
            answer = address;
            if (state.queued.insert(address).second) {
                state.queue.push_back(address);
                queuedNow = true;
            }
        }
    }
    if (queuedNow) {
        state.wake.notify_one();
    }
    return answer;
}

std::string HostResolver::resolveModeName() const {
    return mode == Sync ? "SYNC" : "ASYNC";
}

std::string HostResolver::methodName() const {
    return method_;
}

std::int32_t HostResolver::threadCount() const {
    return threadCount_;
}

std::string HostResolver::resolveAddress(const std::string& address) {
    in_addr parsed{};
    if (inet_aton(address.c_str(), &parsed) == 0) {
        return address;
    }
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = 0;
    socketAddress.sin_addr = parsed;
    char host[1025] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host,
                    sizeof host, nullptr, 0, NI_NOFQDN) != 0) {
        return address;
    }
    std::string name(host);
    // A name with blanks or control bytes (a hostile PTR record) must never
    // reach the terminal.
    return isPrintableName(name) ? name : address;
}

}  // namespace reqwatch
