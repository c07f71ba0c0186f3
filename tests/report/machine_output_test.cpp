// The once-only run's JSON Lines and OpenMetrics outputs and its series of
// samples, through the real executable against the fake cache manager, read
// back by real consumers: jq, promtool where it is installed, and a strict
// exposition reader of the tests' own.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_cache_manager.h"
#include "support/openmetrics_check.h"
#include "support/page_text.h"
#include "support/process.h"
#include "support/temporary_folder.h"

namespace reqwatch {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testsupport::cacheManagerReply;
using testsupport::FakeCacheManager;
using testsupport::FakeReply;
using testsupport::requestBlock;
using testsupport::runCommand;
using testsupport::runReqwatch;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

// Runs jq with a filter over a text: its output, or a failure.
std::string jq(const std::string& filter, const std::string& input) {
    testsupport::TemporaryFolder folder;
    const std::string file = folder.writeFile("input.json", input);
    const auto result = runCommand({"sh", "-c", "jq -c -e '" + filter + "' < " + file});
    EXPECT_EQ(result.status, 0) << "jq " << filter << ": " << result.err;
    return result.out;
}

bool haveJq() {
    return !testsupport::findProgram("jq").empty();
}

// A busy client with two downloads and a quiet one with one URL three times,
// and the same page a moment later, every request 100 000 bytes further.
std::string firstPage() {
    return requestBlock("0x10", "192.168.0.10:50000", "http://a/big", "5550097", "75.4", "Alice",
                        "0") +
           requestBlock("0x11", "192.168.0.11:50001", "http://b/v", "1000", "0.2", "-", "2") +
           requestBlock("0x12", "192.168.0.10:50002", "http://a/small", "800", "3.9", "alice") +
           requestBlock("0x13", "192.168.0.11:50003", "http://b/v", "1000", "0.0") +
           "Connection: 0x14\n\tremote: 192.168.0.11:50004\nuri http://b/v\n"
           "out.offset 1000, out.size 1000\nstart 1796896696.3 (0.9 seconds ago)\n"
           "username -\n\n";
}

std::string secondPage() {
    return requestBlock("0x10", "192.168.0.10:50000", "http://a/big", "5650097", "76.9", "Alice",
                        "0") +
           requestBlock("0x11", "192.168.0.11:50001", "http://b/v", "101000", "1.7", "-", "2") +
           requestBlock("0x12", "192.168.0.10:50002", "http://a/small", "100800", "5.4", "alice") +
           requestBlock("0x13", "192.168.0.11:50003", "http://b/v", "101000", "1.5") +
           "Connection: 0x14\n\tremote: 192.168.0.11:50004\nuri http://b/v\n"
           "out.offset 101000, out.size 101000\nstart 1796896696.3 (2.4 seconds ago)\n"
           "username -\n\n";
}

// The parts of a JSON line that depend on when it ran.
std::string withoutTimes(std::string line) {
    line = std::regex_replace(line, std::regex("\"time\":[0-9]+"), "\"time\":T");
    return std::regex_replace(line, std::regex("\"interval\":[0-9.]+"), "\"interval\":I");
}

TEST(JsonOutput, TwoSamplesLineByLineWithExactCurrentSpeeds) {
    FakeCacheManager server;
    FakeReply second{cacheManagerReply(secondPage())};
    second.firstByteDelay = 500ms;  // the second status line 1.5 s after the first
    server.setReplies({{cacheManagerReply(firstPage())}, second});
    const std::string port = std::to_string(server.port());
    const auto result =
        runReqwatch({"--once", "-n", "--format", "json", "--samples", "2", "-r", "1", "-p", port});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const auto lines = linesOf(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    const std::string proxy = "{\"proxy\":{\"host\":\"127.0.0.1\",\"port\":" + port + "},";
    EXPECT_EQ(withoutTimes(lines[0]),
              proxy +
                  "\"time\":T,\"requestCount\":5,\"clientCount\":2,\"averageSpeed\":74267,"
                  "\"currentSpeed\":null,\"interval\":null,\"clients\":["
                  "{\"address\":\"192.168.0.10\",\"hostName\":null,\"logins\":[\"alice\"],"
                  "\"size\":5550897,\"longestTime\":75,\"averageSpeed\":74267,"
                  "\"currentSpeed\":null,\"requests\":["
                  "{\"id\":\"0x10\",\"worker\":0,\"uri\":\"http://a/big\",\"count\":1,"
                  "\"user\":\"alice\",\"size\":5550097,\"elapsed\":75,\"averageSpeed\":74001,"
                  "\"currentSpeed\":null,\"delayPool\":0},"
                  "{\"id\":\"0x12\",\"worker\":0,\"uri\":\"http://a/small\",\"count\":1,"
                  "\"user\":\"alice\",\"size\":800,\"elapsed\":3,\"averageSpeed\":266,"
                  "\"currentSpeed\":null,\"delayPool\":0}]},"
                  "{\"address\":\"192.168.0.11\",\"hostName\":null,\"logins\":[],"
                  "\"size\":3000,\"longestTime\":0,\"averageSpeed\":0,\"currentSpeed\":null,"
                  "\"requests\":[{\"id\":\"0x11\",\"worker\":0,\"uri\":\"http://b/v\","
                  "\"count\":3,\"user\":null,\"size\":3000,\"elapsed\":0,\"averageSpeed\":0,"
                  "\"currentSpeed\":null,\"delayPool\":2}]}]}");
    // The second sample: every request grew by 100 000 bytes over the
    // interval it gives, and its current speeds are exactly that.
    const std::smatch interval = [&] {
        std::smatch match;
        std::regex_search(lines[1], match, std::regex("\"interval\":([0-9.]+)"));
        return match;
    }();
    ASSERT_FALSE(interval.empty()) << lines[1];
    const auto milliseconds = static_cast<std::int64_t>(std::stod(interval[1]) * 1000 + 0.5);
    EXPECT_GE(milliseconds, 1450);  // not one whole second, nor two
    EXPECT_LT(milliseconds, 1900);
    const std::int64_t speed = 100000 * 1000 / milliseconds;
    const std::string s = std::to_string(speed);
    EXPECT_THAT(lines[1], HasSubstr("\"requestCount\":5,\"clientCount\":2,\"averageSpeed\":"));
    EXPECT_THAT(lines[1],
                HasSubstr("\"currentSpeed\":" + std::to_string(5 * speed) + ",\"interval\":"));
    EXPECT_THAT(lines[1], HasSubstr("\"size\":5650097,\"elapsed\":76,\"averageSpeed\":74343,"
                                    "\"currentSpeed\":" +
                                    s + ","));
    // The merged request carries the first one's current speed; the client
    // the sum of all three.
    EXPECT_THAT(lines[1], HasSubstr("\"longestTime\":2,\"averageSpeed\":"));
    EXPECT_THAT(lines[1], HasSubstr("\"currentSpeed\":" + std::to_string(3 * speed) +
                                    ",\"requests\":[{\"id\":\"0x11\""));
    if (haveJq()) {
        EXPECT_EQ(jq("[.clients[].requests[].currentSpeed]", lines[1]),
                  "[" + s + "," + s + "," + s + "]\n");
    }
}

TEST(JsonOutput, JqReadsEveryLineOfABusyProxyAndHostileUrlsComeBackExactly) {
    if (!haveJq()) {
        GTEST_SKIP() << "jq is not installed (scripts/install-deps installs it)";
    }
    // Every byte the reader keeps but the blank, which ends a URL.
    std::string hostile = "http://h/";
    for (int c = 0x21; c <= 0x7e; ++c) {
        hostile += static_cast<char>(c);
    }
    std::string page = requestBlock("0x0", "10.9.9.9:1", hostile, "5000", "1", "\"quoted\\\"");
    for (int i = 1; i < 10000; ++i) {
        page += requestBlock("0x" + std::to_string(i),
                             "10.0." + std::to_string(i % 250) + "." + std::to_string(i % 7) + ":" +
                                 std::to_string(1000 + i),
                             "http://site" + std::to_string(i % 300) + "/f\"\\" + std::to_string(i),
                             std::to_string(1000 + i), "2.5",
                             i % 3 == 0 ? "-" : "u" + std::to_string(i % 40));
    }
    FakeCacheManager server;
    server.setReply({cacheManagerReply(page)});
    const auto result = runReqwatch({"--once", "-n", "-c", "--format", "json", "--samples", "2",
                                     "-r", "1", "-p", std::to_string(server.port())});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(linesOf(result.out).size(), 2u);
    // jq reads the stream of both objects; each counts every request.
    EXPECT_EQ(jq("[.clients[].requests[]] | length", result.out), "10000\n10000\n");
    EXPECT_EQ(jq("[.clients[].requests[].count] | add", result.out), "10000\n10000\n");
    testsupport::TemporaryFolder folder;
    const std::string file = folder.writeFile("lines.json", result.out);
    const auto back = runCommand(
        {"sh", "-c",
         "head -n 1 " + file +
             " | jq -r -j '.clients[] | select(.address == \"10.9.9.9\") | .requests[0].uri, "
             "\"\\n\", .requests[0].user'"});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, hostile + "\n" + "\"quoted\\\"");
}

TEST(OpenMetricsOutput, AStrictReaderAndPromtoolTakeItAndTheSeriesStayBounded) {
    // 40 clients, some with addresses a hostile page can give.
    std::string page;
    for (int i = 0; i < 40; ++i) {
        const std::string address = i == 0   ? "we\"ird\\one"
                                    : i == 1 ? "other"
                                             : "10.0.0." + std::to_string(i);
        page +=
            requestBlock("0x" + std::to_string(i), address + ":1", "http://x/" + std::to_string(i),
                         std::to_string(100000 * (i + 1)), "10.0");
    }
    FakeCacheManager server;
    FakeReply grown{cacheManagerReply(
        std::regex_replace(page, std::regex("out\\.size ([0-9]+)"), "out.size 9$1"))};
    server.setReplies({{cacheManagerReply(page)}, grown});
    const std::string port = std::to_string(server.port());
    const auto single =
        runReqwatch({"--once", "-n", "--format", "openmetrics", "--top", "3", "-p", port});
    ASSERT_EQ(single.status, 0) << single.err;
    const auto exposition = testsupport::readExposition(single.out);
    EXPECT_THAT(exposition.errors, ::testing::IsEmpty()) << single.out;
    const std::string proxy = "{proxy=\"127.0.0.1:" + port + "\"";
    EXPECT_EQ(exposition.samples.at("reqwatch_requests" + proxy + "}"), "40");
    EXPECT_EQ(exposition.samples.at("reqwatch_clients" + proxy + "}"), "40");
    // The three fastest by average speed, then the sum of the other 37,
    // the client called "other" among them.
    EXPECT_EQ(exposition.samples.at("reqwatch_client_requests" + proxy + ",client=\"10.0.0.39\"}"),
              "1");
    EXPECT_EQ(exposition.samples.at("reqwatch_client_requests" + proxy + ",client=\"other\"}"),
              "37");
    std::size_t series = 0;
    for (const auto& [key, value] : exposition.samples) {
        series += key.rfind("reqwatch_client_size_bytes{", 0) == 0;
    }
    EXPECT_EQ(series, 4u);
    EXPECT_EQ(exposition.samples.count("reqwatch_current_speed_bytes_per_second" + proxy + "}"), 0u)
        << "no current speeds without a previous sample";

    // Two samples: current speeds rank the clients; the hostile address
    // is escaped and reads back as it was.
    const auto pair = runReqwatch({"--once", "-n", "--format", "openmetrics", "--top", "40",
                                   "--samples", "2", "-r", "1", "-p", port});
    ASSERT_EQ(pair.status, 0) << pair.err;
    const auto second = pair.out.substr(pair.out.find("# EOF\n") + 6);
    const auto later = testsupport::readExposition(second);
    EXPECT_THAT(later.errors, ::testing::IsEmpty()) << second;
    const std::string weird =
        "reqwatch_client_size_bytes" + proxy + ",client=\"we\\\"ird\\\\one\"}";
    ASSERT_EQ(later.samples.count(weird), 1u) << second;
    EXPECT_EQ(later.labels.at(weird).at("client"), "we\"ird\\one");
    EXPECT_EQ(later.samples.count("reqwatch_current_speed_bytes_per_second" + proxy + "}"), 1u);

    if (testsupport::findProgram("promtool").empty()) {
        GTEST_SKIP() << "promtool is not installed (Debian's prometheus package has it)";
    }
    for (const std::string& text : {single.out, second}) {
        testsupport::TemporaryFolder folder;
        const auto file = folder.writeFile("metrics.prom", text);
        const auto check = runCommand({"sh", "-c", "promtool check metrics < " + file});
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        EXPECT_EQ(check.out + check.err, "");
    }
}

// reqwatch in the background with its output in a file, stopped by a signal.
struct BackgroundRun {
    testsupport::TemporaryFolder folder;
    pid_t pid = -1;

    explicit BackgroundRun(const std::vector<std::string>& arguments) {
        const std::string out = folder.file("out");
        pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            std::string binary = REQWATCH_BINARY;
            argv.push_back(binary.data());
            std::vector<std::string> copies = arguments;
            for (auto& argument : copies) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            freopen(out.c_str(), "w", stdout);
            freopen("/dev/null", "w", stderr);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
    }
    std::string output() const {
        std::ifstream in(folder.file("out"));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST(Series, EndsCleanlyOnASignalWithEverySampleFlushed) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply(firstPage())});
    for (const int signal : {SIGINT, SIGTERM}) {
        BackgroundRun run({"--once", "-n", "--format", "json", "--samples", "0", "-r", "1", "-p",
                           std::to_string(server.port())});
        for (int i = 0; i < 300 && linesOf(run.output()).size() < 2; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(linesOf(run.output()).size(), 2u) << "flushed after every sample";
        kill(run.pid, signal);
        EXPECT_EQ(run.wait(), 0) << signal;
        const std::string output = run.output();
        EXPECT_EQ(output.back(), '\n');
        EXPECT_GE(linesOf(output).size(), 2u);
    }
    // A reader that goes away (a closed pipe) ends it too, with status 0.
    const auto piped = runCommand({"bash", "-c",
                                   "set -o pipefail; '" + std::string(REQWATCH_BINARY) +
                                       "' --once -n --format json --samples 0 -r 1 -p " +
                                       std::to_string(server.port()) +
                                       " | head -n 1 > /dev/null; echo \"${PIPESTATUS[0]}\""});
    EXPECT_EQ(piped.out, "0\n");
}

TEST(Series, AFailedSampleIsToldAndTheSeriesGoesOn) {
    FakeCacheManager server;
    server.setReplies({{cacheManagerReply(firstPage())},
                       {"HTTP/1.1 401 Unauthorized\r\n\r\n"},
                       {cacheManagerReply(secondPage())}});
    const auto result = runReqwatch(
        {"--once", "-n", "-b", "--samples", "3", "-r", "1", "-p", std::to_string(server.port())});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "Access to squid statistic denied: HTTP/1.1 401 Unauthorized\n");
    // Two reports of six lines; the second, against the first, has current
    // speeds.
    EXPECT_EQ(linesOf(result.out).size(), 2u * 6u) << result.out;
    EXPECT_THAT(result.out, HasSubstr("current/average speed: "));
    // A single sample that fails keeps status 1, a first one of a series not.
    server.setReply({"HTTP/1.1 401 Unauthorized\r\n\r\n"});
    EXPECT_EQ(runReqwatch({"--once", "-p", std::to_string(server.port())}).status, 1);
    EXPECT_EQ(
        runReqwatch({"--once", "--samples", "2", "-r", "1", "-p", std::to_string(server.port())})
            .status,
        0);
}

TEST(Series, BadFormatsAndCountsEndBeforeAnyConnection) {
    FakeCacheManager server;
    const std::string port = std::to_string(server.port());
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const Case cases[] = {
        {{"--once", "--format", "xml"},
         "Unknown format - 'xml', use report, json or openmetrics\n"},
        {{"--once", "--samples", "-1"}, "Samples should be 0 (no end) or more\n"},
        {{"--once", "--samples", "two"}, "Wrong number - Unacceptable input\n"},
        {{"--once", "--top", "-3"}, "Top should be 0 or more\n"},
        {{"--once", "--timeout", "0"}, "Timeout should be greater than 0\n"},
        {{"--format", "json"}, "--format and --samples work with --once only\n"},
    };
    for (const auto& item : cases) {
        auto arguments = item.arguments;
        arguments.insert(arguments.end(), {"-p", port});
        const auto result = runReqwatch(arguments);
        EXPECT_EQ(result.status, 1) << item.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, item.err);
    }
    EXPECT_EQ(server.connectionCount(), 0u);
}

TEST(Series, AProxyThatNeverAnswersTimesOut) {
    FakeCacheManager server;
    FakeReply silent;
    silent.hang = true;
    server.setReply(silent);
    const auto result =
        runReqwatch({"--once", "--timeout", "1", "-p", std::to_string(server.port())});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "Timed out after 1 s waiting for 127.0.0.1:" + std::to_string(server.port()) + "\n");
}

}  // namespace
}  // namespace reqwatch
