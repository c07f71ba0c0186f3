// The pages captured from Squid 7.6 and from Squid 5.7 with two workers,
// replayed by the fake cache manager as two samples through the real
// executable: the counts are those of the pages, and every current speed is
// the growth of its own request over the measured interval, also where two
// workers show the same request ids.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/fake_cache_manager.h"
#include "support/process.h"

namespace reqwatch {
namespace {

using ::testing::HasSubstr;
using testsupport::FakeCacheManager;
using testsupport::readFixture;
using testsupport::runReqwatch;

// Every request's out.size grown by what `growth` gives for its worker.
std::string grown(const std::string& page, const std::map<int, std::int64_t>& growth) {
    std::string result;
    int worker = 0;
    std::size_t start = 0;
    while (start < page.size()) {
        std::size_t end = page.find('\n', start);
        end = end == std::string::npos ? page.size() : end + 1;
        std::string line = page.substr(start, end - start);
        std::smatch match;
        if (std::regex_search(line, match, std::regex("^by kid([0-9]+) \\{"))) {
            worker = std::stoi(match[1]);
        } else if (std::regex_search(line, match,
                                     std::regex("^(out\\.offset [0-9]+, out\\.size )"
                                                "([0-9]+)"))) {
            const auto found = growth.find(worker);
            const std::int64_t add = found == growth.end() ? 0 : found->second;
            line = match[1].str() + std::to_string(std::stoll(match[2]) + add) + "\n";
        }
        result += line;
        start = end;
    }
    return result;
}

struct Request {
    int worker;
    std::int64_t currentSpeed;
};

// The requests of a JSON line with their worker and current speed, and the
// line's interval in milliseconds.
std::vector<Request> requestsOf(const std::string& line, std::int64_t& milliseconds) {
    std::smatch interval;
    milliseconds = 0;
    if (std::regex_search(line, interval, std::regex("\"interval\":([0-9.]+)"))) {
        milliseconds = static_cast<std::int64_t>(std::stod(interval[1]) * 1000 + 0.5);
    }
    std::vector<Request> requests;
    const std::regex request("\"worker\":([0-9]+),[^}]*\"currentSpeed\":([0-9]+)");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), request);
         it != std::sregex_iterator(); ++it) {
        requests.push_back({std::stoi((*it)[1]), std::stoll((*it)[2])});
    }
    return requests;
}

TEST(CapturedPages, TwoSamplesOfEachGiveExactCountsAndCurrentSpeeds) {
    std::string sameIds = readFixture("squid-5.7-workers2-active_requests.txt");
    // The second worker's ids made the first worker's: they must stay apart.
    sameIds = std::regex_replace(sameIds, std::regex("0x55cf35389098"), "0x55722819e878");
    sameIds = std::regex_replace(sameIds, std::regex("0x55cf35364928"), "0x5572281941e8");
    struct Case {
        const char* name;
        std::string page;
        std::map<int, std::int64_t> growth;  // bytes by worker
        std::string counts;
        std::size_t requests;
    };
    const Case cases[] = {
        {"Squid 7.6",
         readFixture("squid-7.6-active_requests.txt"),
         {{0, 100000}},
         "\"requestCount\":7,\"clientCount\":6",
         7},
        {"Squid 5.7, two workers",
         readFixture("squid-5.7-workers2-active_requests.txt"),
         {{1, 100000}, {2, 300000}},
         "\"requestCount\":6,\"clientCount\":1",
         6},
        {"two workers with the same ids",
         sameIds,
         {{1, 100000}, {2, 300000}},
         "\"requestCount\":6,\"clientCount\":1",
         6},
    };
    for (const auto& item : cases) {
        FakeCacheManager server;
        server.setReplies({{item.page}, {grown(item.page, item.growth)}});
        const auto result = runReqwatch({"--once", "-n", "-c", "--format", "json", "--samples", "2",
                                         "-r", "1", "-p", std::to_string(server.port())});
        ASSERT_EQ(result.status, 0) << item.name << ": " << result.err;
        const auto newline = result.out.find('\n');
        ASSERT_NE(newline, std::string::npos) << item.name;
        const std::string firstLine = result.out.substr(0, newline);
        const std::string secondLine = result.out.substr(newline + 1);
        EXPECT_THAT(firstLine, HasSubstr(item.counts)) << item.name;
        EXPECT_THAT(secondLine, HasSubstr(item.counts)) << item.name;
        std::int64_t milliseconds = 0;
        const auto requests = requestsOf(secondLine, milliseconds);
        ASSERT_EQ(requests.size(), item.requests) << item.name << ": " << secondLine;
        ASSERT_GE(milliseconds, 900) << item.name;
        std::size_t grownRequests = 0;
        for (const auto& request : requests) {
            const auto found = item.growth.find(request.worker);
            const std::int64_t growth = found == item.growth.end() ? 0 : found->second;
            // The cache manager's own request of 7.6 has no bytes to grow from.
            if (request.currentSpeed == 0 && growth > 0) {
                continue;
            }
            EXPECT_EQ(request.currentSpeed, growth * 1000 / milliseconds)
                << item.name << ", worker " << request.worker;
            ++grownRequests;
        }
        EXPECT_GE(grownRequests, item.requests - 1) << item.name;
    }
}

TEST(CapturedPages, TheOnceOnlyReportOfATwoWorkerProxy) {
    FakeCacheManager server;
    server.setReply({readFixture("squid-5.7-workers2-active_requests.txt")});
    const auto result = runReqwatch({"--once", "-n", "-b", "-p", std::to_string(server.port())});
    EXPECT_EQ(result.status, 0) << result.err;
    // Four requests of 30119 bytes and two of 60119, each 3 s old.
    EXPECT_EQ(result.out,
              "\nActive connections: 6, active hosts: 1, average speed: 78.4 KB/s\n\n"
              "  Host: 127.0.0.1 (sessions: 6, size: 235KB, average speed: 78.4 KB/s)\n\n");
}

}  // namespace
}  // namespace reqwatch
