// A test suite that shares one real Squid, one origin server and a set of
// curl downloads among its tests. The derived suite starts them in its
// startDownloads(); the suite is skipped where squid or curl is missing, and
// a failed start fails each test with its message after everything started
// so far has been stopped. A suite that starts more has a TearDownTestSuite()
// of its own, which stops that and then calls this one's; a failed start
// calls it too.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "support/origin_server.h"
#include "support/process.h"
#include "support/squid_proxy.h"

#include <gtest/gtest.h>

namespace testsupport {

template <typename Suite>
class SquidSuite : public ::testing::Test {
  public:
    static void SetUpTestSuite() {
        for (const auto* program : {"squid", "curl"}) {
            if (findProgram(program).empty()) {
                skipReason = std::string(program) + " is not installed";
                return;
            }
        }
        try {
            Suite::startDownloads();
        } catch (const std::exception& error) {
            setupFailure = error.what();
            Suite::TearDownTestSuite();
        }
    }

    static void TearDownTestSuite() {
        curls.clear();
        if (squid) {
            squid->stop();
            // Nothing of the proxy outlives its suite: no process, shared
            // memory segment or IPC socket.
            EXPECT_EQ(squid->leftovers(), "");
        }
        squid.reset();
        origin.reset();
    }

  protected:
    void SetUp() override {
        if (!skipReason.empty()) {
            GTEST_SKIP() << skipReason;
        }
        ASSERT_TRUE(setupFailure.empty()) << setupFailure;
    }

    static inline std::string skipReason;
    static inline std::string setupFailure;
    static inline std::unique_ptr<OriginServer> origin;
    static inline std::unique_ptr<SquidProxy> squid;
    static inline std::vector<ChildProcess> curls;
};

}  // namespace testsupport
