// Reverse lookups of client addresses. In Sync mode every lookup asks the name
// service at once; in Async mode a lookup answers from a cache or with the
// address itself and leaves the name service to one background worker.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace reqwatch {

enum ResolveMode : std::int32_t { Sync = 0, Async = 1 };

class HostResolver {
  public:
    // The function that performs one blocking reverse lookup.
    using LookupFunction = std::function<std::string(const std::string&)>;

    HostResolver();
    explicit HostResolver(LookupFunction lookupFunction);
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;
    // Never waits for the worker: the worker keeps the state it shares with
    // the resolver alive for as long as it runs.
    ~HostResolver();

    // Set by the run mode before the first lookup.
    ResolveMode mode = Sync;

    // Starts the single worker thread; called once, by the interactive run.
    void startWorkers();

    // The name to show for an address now.
    std::string lookup(const std::string& address);

    std::string resolveModeName() const;
    std::string methodName() const;
    std::int32_t threadCount() const;

    // One blocking reverse lookup with getnameinfo; the address itself when it
    // is not an IPv4 text, has no name, or the name is not printable.
    static std::string resolveAddress(const std::string& address);

    struct SharedState;

  private:
    std::string method_ = "NONE";
    std::int32_t threadCount_ = 0;
    LookupFunction lookupFunction_;
    std::shared_ptr<SharedState> shared_;
};

}  // namespace reqwatch
