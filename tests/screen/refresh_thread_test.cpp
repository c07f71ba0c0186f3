#include "screen/refresh_thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "cachemgr/active_requests_query.h"
#include "screen/grid_surface.h"
#include "screen/screen.h"
#include "screen_fixtures.h"
#include "support/fake_cache_manager.h"

namespace reqwatch {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

class RefreshThreadTest : public ::testing::Test {
  protected:
    RefreshThreadTest() : grid(100, 30), screen(options, grid) {}

    // Polls the screen until the predicate holds (under the lock) or 5 s pass.
    bool eventually(const std::function<bool()>& predicate) {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
                if (predicate()) {
                    return true;
                }
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    Options options;
    GridSurface grid;
    Screen screen;
};

TEST_F(RefreshThreadTest, HandsEachSampleOverAndShowsFailuresUntilTheNextGoodOne) {
    std::atomic<int> calls{0};
    std::atomic<bool> failing{false};
    options.refreshInterval = 1;
    RefreshThread refresh({&screen, &options},
                          [&](SampleState& state, const FetchSettings& settings,
                              const CancelSignal*) -> ConnectionList {
                              ++calls;
                              EXPECT_EQ(settings.host, "127.0.0.1");
                              if (failing) {
                                  throw sqstatException("Connection refused\nwhile connecting",
                                                        sqstatException::ConnectFailed);
                              }
                              state.requestCount = 4;
                              state.totalAverageSpeed = 2048;
                              return twoClients();
                          });
    refresh.start();
    // The first sample comes at once, without a wait.
    ASSERT_TRUE(eventually([&] { return screen.connections.size() == 2; }));
    EXPECT_EQ(screen.requestCount, 4);
    ASSERT_TRUE(
        eventually([&] { return grid.row(3).find("Host: 10.0.0.1") != std::string::npos; }));

    failing = true;
    ASSERT_TRUE(eventually([&] { return !screen.errorText.empty(); }));
    EXPECT_EQ(screen.connections.size(), 2u);  // the last good sample stays
    EXPECT_TRUE(eventually([&] {
        return grid.row(0).find("Connection refused while connecting") != std::string::npos;
    }));
    failing = false;
    EXPECT_TRUE(eventually([&] { return screen.errorText.empty(); }));
    EXPECT_TRUE(refresh.stop());
    EXPECT_GE(calls.load(), 3);
}

TEST_F(RefreshThreadTest, NoFetchWhileRefreshingIsOffAndANewIntervalCountsAtOnce) {
    std::atomic<int> calls{0};
    options.refreshInterval = 3600;
    RefreshThread refresh({&screen, &options},
                          [&](SampleState&, const FetchSettings&, const CancelSignal*) {
                              ++calls;
                              return ConnectionList{};
                          });
    refresh.start();
    ASSERT_TRUE(eventually([&] { return calls == 1; }));
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        options.refreshInterval = 1;  // ends the hour-long wait within a second
    }
    ASSERT_TRUE(eventually([&] { return calls >= 2; }));
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        options.refreshing = false;
    }
    std::this_thread::sleep_for(1100ms);
    const int paused = calls;
    std::this_thread::sleep_for(2100ms);
    EXPECT_EQ(calls.load(), paused);
    EXPECT_TRUE(refresh.stop());
}

TEST_F(RefreshThreadTest, StopsPromptlyInsideAFetchThatNeverEnds) {
    testsupport::FakeCacheManager server;
    testsupport::FakeReply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\n";
    reply.hang = true;
    server.setReply(reply);
    options.port = server.port();
    options.hostnameLookups = false;
    RefreshThread refresh({&screen, &options});
    refresh.start();
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 1; }));
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(refresh.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(screen.lock.try_lock());  // not left held
    screen.lock.unlock();
}

TEST_F(RefreshThreadTest, AnUnexpectedFailureEndsTheRun) {
    RefreshThread refresh(
        {&screen, &options},
        [](SampleState&, const FetchSettings&, const CancelSignal*) -> ConnectionList {
            throw std::runtime_error("out of something");
        });
    refresh.start();
    ASSERT_TRUE(eventually([&] { return screen.quitRequested; }));
    EXPECT_EQ(screen.fatalError, "out of something");
    EXPECT_TRUE(refresh.stop());
}

}  // namespace
}  // namespace reqwatch
