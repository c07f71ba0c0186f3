#include "resolver/host_resolver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "resolver/host_name.h"

namespace reqwatch {
namespace {

using namespace std::chrono_literals;

// A name service whose answers the test releases one by one.
struct GatedNameService {
    std::mutex lock;
    std::condition_variable changed;
    int calls = 0;
    int released = 0;

    std::string lookup(const std::string& address) {
        std::unique_lock<std::mutex> guard(lock);
        const int call = ++calls;
        changed.notify_all();
        changed.wait(guard, [&] { return released >= call; });
        return address == "10.0.0.9" ? address : "host-" + address + ".example.org";
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock);
        ++released;
        changed.notify_all();
    }
    void waitForCalls(int count) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return calls >= count; });
    }
    int callCount() {
        std::lock_guard<std::mutex> guard(lock);
        return calls;
    }
};

// Polls until the resolver answers `expected` for the address.
bool eventuallyAnswers(HostResolver& resolver, const std::string& address,
                       const std::string& expected) {
    for (int i = 0; i < 500; ++i) {
        if (resolver.lookup(address) == expected) {
            return true;
        }
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

std::shared_ptr<GatedNameService> startAsync(HostResolver*& resolver,
                                             std::unique_ptr<HostResolver>& owner) {
    auto service = std::make_shared<GatedNameService>();
    owner = std::make_unique<HostResolver>(
        [service](const std::string& address) { return service->lookup(address); });
    resolver = owner.get();
    resolver->startWorkers();
    resolver->mode = Async;
    return service;
}

TEST(HostResolver, StartsWithoutWorkersAndReportsOneAfterStarting) {
    HostResolver resolver;
    EXPECT_EQ(resolver.methodName(), "NONE");
    EXPECT_EQ(resolver.threadCount(), 0);
    EXPECT_EQ(resolver.resolveModeName(), "SYNC");
    resolver.startWorkers();
    resolver.mode = Async;
    EXPECT_EQ(resolver.methodName(), "GETNAMEINFO");
    EXPECT_EQ(resolver.threadCount(), 1);
    EXPECT_EQ(resolver.resolveModeName(), "ASYNC");
}

TEST(HostResolver, SyncModeAsksTheNameServiceEveryTime) {
    int calls = 0;
    HostResolver resolver([&calls](const std::string& address) {
        ++calls;
        return "name-" + address;
    });
    resolver.mode = Sync;
    EXPECT_EQ(resolver.lookup("10.0.0.1"), "name-10.0.0.1");
    EXPECT_EQ(resolver.lookup("10.0.0.1"), "name-10.0.0.1");
    EXPECT_EQ(calls, 2);
}

TEST(HostResolver, AsyncModeAnswersWithTheAddressUntilTheNameIsKnown) {
    HostResolver* resolver = nullptr;
    std::unique_ptr<HostResolver> owner;
    auto service = startAsync(resolver, owner);

    // New, then queued: the address, and a single queue entry.
    EXPECT_EQ(resolver->lookup("10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(resolver->lookup("10.0.0.1"), "10.0.0.1");
    service->waitForCalls(1);
    // In flight: still the address, not queued again.
    EXPECT_EQ(resolver->lookup("10.0.0.1"), "10.0.0.1");
    service->release();
    EXPECT_TRUE(eventuallyAnswers(*resolver, "10.0.0.1", "host-10.0.0.1.example.org"));
    EXPECT_EQ(service->callCount(), 1);

    // An address without a name is cached as itself and never asked again.
    EXPECT_EQ(resolver->lookup("10.0.0.9"), "10.0.0.9");
    service->waitForCalls(2);
    service->release();
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(resolver->lookup("10.0.0.9"), "10.0.0.9");
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(service->callCount(), 2);
}

TEST(HostResolver, DestroyingWhileALookupIsInFlightIsSafe) {
    HostResolver* resolver = nullptr;
    std::unique_ptr<HostResolver> owner;
    auto service = startAsync(resolver, owner);
    resolver->lookup("10.0.0.1");
    resolver->lookup("10.0.0.2");
    service->waitForCalls(1);
    owner.reset();  // must not wait for the slow name service
    service->release();
    service->release();
    service->waitForCalls(2);
    std::this_thread::sleep_for(20ms);  // the worker carries on with its own state
}

TEST(HostResolver, RealLookupsUseTheHostsFileAndLeaveOtherTextsAlone) {
    // 127.0.0.1 is named in /etc/hosts, so no name server is asked.
    EXPECT_EQ(HostResolver::resolveAddress("127.0.0.1"), "localhost");
    for (const std::string text : {"::1", "[::1]", "proxy.example.org", "", "10.0.0.256"}) {
        EXPECT_EQ(HostResolver::resolveAddress(text), text);
    }
    HostResolver resolver;
    resolver.mode = Async;  // never started: answers without asking anyone
    EXPECT_EQ(resolver.lookup("127.0.0.1"), "127.0.0.1");
}

TEST(ShortenHostName, CutsAtTheFirstDotButKeepsDottedAddresses) {
    const std::pair<std::string, std::string> cases[] = {
        {"ws10.office.example.org", "ws10"},
        {"10.0.0.1", "10.0.0.1"},
        {"localhost", "localhost"},
        {"host.", "host"},
        {".hidden", ""},
        {"10.1", "10"},
        {"::1", "::1"},
    };
    for (const auto& [name, expected] : cases) {
        std::string text = name;
        shortenHostName(text);
        EXPECT_EQ(text, expected) << name;
    }
}

}  // namespace
}  // namespace reqwatch
