#include "app/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "parsed_command_line.h"
#include "support/process.h"

namespace reqwatch {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testsupport::runReqwatch;

std::string expectedUsage(const std::string& invokedAs) {
    return "reqwatch (shows active connections for squid)\n"
           "version 2015-02-08\n"
           "\n"
           "Usage:\n" +
           invokedAs +
           " [--help] [--host host] [--port port] [--pass password] [--hosts host1,host...]"
           " [--users user1,user2] [--brief] [--detail] [--full] [--zero] [-c] [--once]"
           " [-r seconds] [-n] [-S] [--timeout seconds] [--format format] [--samples n] [--top k]"
           " [--pass-file file] [--config file] [--no-config]"
           "\n\t--help                       - show this help;"
           "\n\t--host   (-h) host           - address of Squid server. Default - '127.0.0.1';"
           "\n\t--port   (-p) port           - port of Squid server. Default - '3128';"
           "\n\t--pass   (-P) password       - manager password;"
           "\n\t--hosts  (-H) host1,host2... - comma-separated list of clients (by ip[/mask]) to"
           " show;"
           "\n\t--users  (-u) user1,user2... - comma-separated list of clients (by login) to show;"
           "\n\t--brief  (-b)                - display brief per-connection information, omits"
           " URLs;"
           "\n\t--detail (-d)                - display detailed information (size, username and"
           " average speed) for each URL in each connection;"
           "\n\t--full   (-f)                - display full details (size, username, average"
           " speed, delay pool and elapsed time) for each URL in each connection;"
           "\n\t--zero   (-z)                - display zero values instead of silently omitting"
           " them;"
           "\n\t-c                           - do not compact the display of multiple"
           " occurrences of the same URL in a single connection;"
           "\n\t--once   (-o)                - disable interactive mode, just print statistics"
           " once to stdout;"
           "\n\t--refreshinterval (-r) sec   - set the refresh-interval for interactive mode;"
           "\n\t-n                           - do not do hostname lookups;"
           "\n\t-S                           - do not strip domain part of hostname;"
           "\n\t--timeout sec                - give up a fetch that takes longer than this;"
           "\n\t--format format              - output of --once: report, json or openmetrics;"
           "\n\t--samples n                  - with --once, take n samples -r seconds apart, 0"
           " for no end;"
           "\n\t--top k                      - clients with series of their own in openmetrics"
           " output. Default - '20';"
           "\n\t--pass-file file             - read the manager password from the first line of"
           " this file;"
           "\n\t--config file                - read the settings from this file. Default -"
           " '~/.config/reqwatch/config';"
           "\n\t--no-config                  - start with the built-in settings."
           "\n";
}

TEST(CommandLine, DefaultsWithoutArguments) {
    Options options;
    EXPECT_EQ(parse(options, {}).status, -1);
    EXPECT_EQ(options.host, "127.0.0.1");
    EXPECT_EQ(options.port, 3128);
    EXPECT_EQ(options.pass, "");
    EXPECT_EQ(options.refreshInterval, 2);
    EXPECT_TRUE(options.interactive);
    EXPECT_TRUE(options.compactSameUrls);
    EXPECT_TRUE(options.hostnameLookups);
    EXPECT_TRUE(options.stripDomain);
    EXPECT_FALSE(options.brief || options.detail || options.full || options.zero);
}

TEST(CommandLine, SetsEveryOptionInCommandLineOrder) {
    Options options;
    const auto parsed =
        parse(options, {"-h", "proxy.example", "--port", "8080", "-P", "", "--pass", "secret", "-b",
                        "-z", "-o", "-c", "-n", "-S", "ignored", "-r", "7", "--host", "10.1.1.1"});
    EXPECT_EQ(parsed.status, -1);
    EXPECT_EQ(options.host, "10.1.1.1");
    EXPECT_EQ(options.port, 8080);
    EXPECT_EQ(options.pass, "secret");
    EXPECT_TRUE(options.brief);
    EXPECT_TRUE(options.zero);
    EXPECT_FALSE(options.interactive);
    EXPECT_FALSE(options.compactSameUrls);
    EXPECT_FALSE(options.hostnameLookups);
    EXPECT_FALSE(options.stripDomain);
    EXPECT_EQ(options.refreshInterval, 7);
}

TEST(CommandLine, FullImpliesDetailButNotTheOtherWayRound) {
    Options full;
    parse(full, {"-f"});
    EXPECT_TRUE(full.full);
    EXPECT_TRUE(full.detail);
    Options detail;
    parse(detail, {"--detail"});
    EXPECT_FALSE(detail.full);
    EXPECT_TRUE(detail.detail);
}

TEST(CommandLine, FilterListsAreSplitAndUsersLowerCased) {
    Options options;
    parse(options, {"-u", "Alice,BOB", "-H", "10.0.0.0/8,WS10"});
    EXPECT_THAT(options.users, ElementsAre("alice", "bob"));
    EXPECT_THAT(options.hosts, ElementsAre("10.0.0.0/8", "WS10"));
    parse(options, {"--users", "a,,b", "--hosts", "a,"});
    EXPECT_THAT(options.users, ElementsAre("a", "", "b"));
    EXPECT_THAT(options.hosts, ElementsAre("a"));
}

TEST(CommandLine, APortOutsideOneTo65535IsRefused) {
    // Only a port that is really where the program connects is taken.
    for (const std::string port : {"0", "-1", "65536", "70000", "4294967297"}) {
        Options options;
        const auto parsed = parse(options, {"-p", port});
        EXPECT_EQ(parsed.status, 1) << port;
        EXPECT_EQ(parsed.err, "Unknown port - Port should be from 1 to 65535\n") << port;
        EXPECT_EQ(options.port, 3128);
    }
    Options options;
    parse(options, {"-p", "1", "--port", "65535"});
    EXPECT_EQ(options.port, 65535);
}

TEST(CommandLine, RefreshIntervalOutOfRangeKeepsTheCurrentOne) {
    struct Case {
        std::vector<std::string> arguments;
        int interval;
        std::string err;
    };
    const std::string message = "Refresh interval should be greater than 0, using default - ";
    const Case cases[] = {
        {{"-r", "0"}, 2, message + "2\n"},
        {{"-r", "-5"}, 2, message + "2\n"},
        {{"-r", "5", "-r", "0"}, 5, message + "5\n"},
        {{"-r", "2147483648"}, 2, message + "2\n"},
        {{"-r", "2147483647"}, 2147483647, ""},
    };
    for (const auto& item : cases) {
        Options options;
        const auto parsed = parse(options, item.arguments);
        EXPECT_EQ(parsed.status, -1);
        EXPECT_EQ(options.refreshInterval, item.interval);
        EXPECT_EQ(parsed.err, item.err);
    }
}

// The command line through the real executable: what a user sees.
TEST(CommandLineProgram, HelpPrintsTheUsageTextAndSucceeds) {
    const auto result = runReqwatch({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expectedUsage(REQWATCH_BINARY));
    EXPECT_EQ(result.err, "");
}

TEST(CommandLineProgram, MistakesPrintTheUsageOnStandardErrorAndFail) {
    // A typo must not look like success to a script; "-?" asks for help.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-x"}, {"--bogus"}, {"-h"}, {"--port"}, {"-o", "-r"}}) {
        const auto result = runReqwatch(arguments);
        EXPECT_EQ(result.status, 1) << arguments.back();
        EXPECT_EQ(result.out, "") << arguments.back();
        EXPECT_THAT(result.err, ::testing::EndsWith(expectedUsage(REQWATCH_BINARY)))
            << arguments.back();
        EXPECT_NE(result.err, expectedUsage(REQWATCH_BINARY)) << "getopt's own diagnostic";
    }
    const auto help = runReqwatch({"-?"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, expectedUsage(REQWATCH_BINARY));
}

TEST(CommandLineProgram, BadNumbersEndWithStatusOne) {
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const Case cases[] = {
        {{"-p", "abc"}, "Unknown port - Unacceptable input\n"},
        {{"--port", "80x"}, "Unknown port - Invalid input 'x'\n"},
        {{"-p", "99999999999999999999"}, "Unknown port - Unacceptable input\n"},
        {{"-p", "70000"}, "Unknown port - Port should be from 1 to 65535\n"},
        {{"-r", "5s"}, "Wrong number - Invalid input 's'\n"},
        {{"--refreshinterval", ""}, "Wrong number - Unacceptable input\n"},
    };
    for (const auto& item : cases) {
        const auto result = runReqwatch(item.arguments);
        EXPECT_EQ(result.status, 1) << item.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, item.err);
    }
}

TEST(CommandLineProgram, RefreshWarningGoesOnAndTheRunStillHappens) {
    // -r 0 only warns; the once-only run then fails to reach a closed port.
    const auto result = runReqwatch({"-r", "5", "-r", "0", "--once", "-h", "127.0.0.1", "-p", "1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("Refresh interval should be greater than 0, using default - "
                                      "5\n"));
    EXPECT_THAT(result.err, HasSubstr(" while connecting to 127.0.0.1:1\n"));
}

}  // namespace
}  // namespace reqwatch
