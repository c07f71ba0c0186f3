// The live screen while its terminal changes size: reqwatch in tmux against
// the fake cache manager, refreshing every second, through windows from 1x1
// to 300x100, and back to a screen laid out as it should be.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/fake_cache_manager.h"
#include "support/page_text.h"
#include "support/temporary_folder.h"
#include "support/terminal_run.h"
#include "support/tmux_session.h"

namespace reqwatch {
namespace {

using namespace std::chrono_literals;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Download {
    std::string url;
    std::int64_t size;
};

struct Client {
    std::string address;
    std::vector<Download> downloads;  // in the order shown: largest first
};

// In the default order of the list: the largest total first.
const std::vector<Client> clients = {
    {"10.0.0.1", {{"http://a.example/one", 3000000}, {"http://a.example/two", 2000000}}},
    {"10.0.0.2",
     {{"http://b.example/three", 900000},
      {"http://b.example/four", 800000},
      {"http://b.example/five", 700000}}},
    {"10.0.0.3", {{"http://c.example/six", 100000}}},
};

std::string page() {
    std::string text;
    int request = 0;
    for (const auto& client : clients) {
        for (const auto& download : client.downloads) {
            ++request;
            text += testsupport::requestBlock("0x" + std::to_string(request),
                                              client.address + ":" + std::to_string(5000 + request),
                                              download.url, std::to_string(download.size), "10.0");
        }
    }
    return text;
}

struct Size {
    int columns;
    int lines;
};

TEST(TerminalResize, EverySizeFromOneByOneToThreeHundredByAHundredLeavesARightScreen) {
    testsupport::FakeCacheManager server;
    server.setReply({testsupport::cacheManagerReply(page())});
    testsupport::TemporaryFolder sanitizerLogs;
    {
        testsupport::TmuxSession terminal(
            testsupport::reqwatchShellCommand(
                {"-n", "-r", "1", "-h", "127.0.0.1", "-p", std::to_string(server.port())},
                sanitizerLogs),
            100, 30);
        ASSERT_TRUE(terminal.waitForText("Host: 10.0.0.1")) << terminal.screen();

        const Size sizes[] = {{1, 1},  {2, 2},     {1, 40},  {300, 1}, {3, 3},    {10, 2},
                              {80, 3}, {300, 100}, {4, 100}, {20, 6},  {250, 70}, {120, 40}};
        const Size last = sizes[std::size(sizes) - 1];
        const std::size_t samplesBefore = server.connectionCount();
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            for (std::size_t i = 0; i < std::size(sizes); ++i) {
                terminal.resize(sizes[i].columns, sizes[i].lines);
                // Gaps from none to longer than a redraw: some sizes change
                // again in the middle of drawing the one before.
                std::this_thread::sleep_for(std::chrono::milliseconds((round * 7 + i * 37) % 150));
            }
            ASSERT_FALSE(testsupport::reqwatchEnded(terminal)) << terminal.screen();
        }
        EXPECT_GT(server.connectionCount(), samplesBefore) << "samples came meanwhile";

        // The layout of the last size: the proxy at the top left and the
        // label ending at the last column, the clients' rows from the fourth
        // line on and nothing below them, the totals at the bottom.
        const std::string connected = "Connected to 127.0.0.1:" + std::to_string(server.port());
        const auto laidOut = [&](const std::string&) {
            const auto rows = terminal.rows();
            return rows.size() == static_cast<std::size_t>(last.lines) &&
                   rows[0].rfind(connected, 0) == 0 &&
                   rows[static_cast<std::size_t>(last.lines) - 1].rfind("Average speed:", 0) == 0;
        };
        ASSERT_TRUE(terminal.waitFor(laidOut, 8000ms)) << terminal.screen();
        const auto rows = terminal.rows();
        EXPECT_EQ(rows[0].size(), static_cast<std::size_t>(last.columns));
        EXPECT_THAT(rows[0], EndsWith("reqwatch-2015-02-08"));
        std::size_t row = 3;
        for (const auto& client : clients) {
            ASSERT_LT(row + client.downloads.size(), rows.size());
            EXPECT_THAT(rows[row], StartsWith("  Host: " + client.address + " ")) << row;
            ++row;
            for (const auto& download : client.downloads) {
                EXPECT_THAT(rows[row], StartsWith("    " + download.url)) << row;
                ++row;
            }
            EXPECT_EQ(rows[row], "") << row;
            ++row;
        }
        for (; row + 2 < rows.size(); ++row) {
            EXPECT_EQ(rows[row], "") << "row " << row << " should be empty";
        }
        const std::string& totals = rows.back();
        EXPECT_THAT(totals, HasSubstr("Active hosts: " + std::to_string(clients.size())));
        std::size_t requests = 0;
        for (const auto& client : clients) {
            requests += client.downloads.size();
        }
        EXPECT_THAT(totals, HasSubstr("Active connections: " + std::to_string(requests)));

        testsupport::quitAndExpectCleanEnd(terminal);
    }
    EXPECT_EQ(testsupport::sanitizerReports(sanitizerLogs), "");
}

}  // namespace
}  // namespace reqwatch
