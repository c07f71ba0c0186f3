#include "screen/help_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace reqwatch {
namespace {

std::vector<std::string> helpLines(const Options& options) {
    auto lines = splitString(helpText(options), "\n");
    return lines;
}

TEST(HelpText, ShowsEveryKeyWithTheDefaultSettings) {
    Options options;
    const std::string expected =
        "Output:\n"
        " d - display detailed information (size, username and average speed) for each URL in "
        "each connection (OFF)\n"
        " z - display zero values instead of silently omitting them (OFF)\n"
        " f - display full details (size, username, average speed, delay pool and elapsed time) "
        "for each URL in each connection (OFF)\n"
        " b - display brief per-connection information, omits URLs (OFF)\n"
        " C - compact long urls to fit one line (ON)\n"
        " c - compact the display of multiple occurrences of the same URL in a single connection "
        "(ON)\n"
        " s - speed showing mode (both current and average)\n"
        " o - connections sort order (by size)\n"
        " SPACE - stop refreshing (OFF)\n"
        " UP/DOWN/PAGE_UP/PAGE_DOWN/HOME/END keys - scroll display\n"
        " ENTER - toggle showing/hiding: urls (for connections), full details (for urls)\n"
        "\n"
        "Filtering:\n"
        " H - comma-separated list of clients (by ip[/mask]) to show\n"
        " u - comma-separated list of clients (by login) to show\n"
        "\n"
        "Squid connection:\n"
        " h - address of Squid server (127.0.0.1)\n"
        " p - port of Squid server (3128)\n"
        " P - manager password\n"
        " r - set the refresh-interval for interactive mode (2)\n"
        "\n"
        "Resolver (working in SYNC mode with NONE in 0 threads):\n"
        " n - do hostname lookups (ON)\n"
        " S - strip domain part of hostname (ON)\n"
        " R - hosts showing mode (both host name and ip)\n"
        "\n"
        "General:\n"
        " / - search for substring in hosts, usernames and urls\n"
        " w - save the settings to the settings file\n"
        " ? - this help\n"
        " q - quit\n"
        "\n"
        "Press '?' again to return\n";
    EXPECT_EQ(helpText(options), expected);
}

TEST(HelpText, FollowsChangedSettings) {
    Options options;
    options.detail = true;
    options.compactLongUrls = false;
    options.refreshing = false;
    options.speedMode = CurrentOnly;
    options.sortOrder = static_cast<SortOrder>(7);
    options.hosts = {"10.0.0.0/8", "192.168.1.1"};
    options.users = {"alice"};
    options.pass = "secret";
    options.port = 8080;
    options.resolver.startWorkers();
    options.resolver.mode = Async;
    options.settingsPath = "/home/me/.config/reqwatch/config";
    const auto lines = helpLines(options);
    ASSERT_EQ(lines.size(), 35u);
    EXPECT_THAT(lines[1], ::testing::EndsWith("(ON)"));
    EXPECT_EQ(lines[5], " C - compact long urls to fit one line (OFF)");
    EXPECT_EQ(lines[7], " s - speed showing mode (current only (if available))");
    EXPECT_EQ(lines[8], " o - connections sort order ()");
    EXPECT_EQ(lines[9], " SPACE - stop refreshing (ON)");
    EXPECT_EQ(
        lines[14],
        " H - comma-separated list of clients (by ip[/mask]) to show (10.0.0.0/8,192.168.1.1)");
    EXPECT_EQ(lines[15], " u - comma-separated list of clients (by login) to show (alice)");
    EXPECT_EQ(lines[19], " p - port of Squid server (8080)");
    EXPECT_EQ(lines[20], " P - manager password (secret)");
    EXPECT_EQ(lines[23], "Resolver (working in ASYNC mode with GETNAMEINFO in 1 threads):");
    EXPECT_EQ(lines[30], " w - save the settings to /home/me/.config/reqwatch/config");
}

}  // namespace
}  // namespace reqwatch
