#include "report/report_lines.h"

#include <gtest/gtest.h>

#include "report_examples.h"

namespace reqwatch {
namespace {

struct Flags {
    bool detail = false;
    bool full = false;
    bool zero = false;
    bool brief = false;
    SpeedMode speedMode = BothSpeeds;
};

void apply(Options& options, const Flags& flags) {
    options.detail = flags.detail;
    options.full = flags.full;
    options.zero = flags.zero;
    options.brief = flags.brief;
    options.speedMode = flags.speedMode;
}

struct LinesCase {
    Flags flags;
    std::string connection;
    std::vector<std::string> urls;
};

void expectLines(const Connection& client, const LinesCase& item) {
    Options options;
    apply(options, item.flags);
    EXPECT_EQ(connectionLine(options, client), item.connection);
    ASSERT_EQ(client.urls.size(), item.urls.size());
    for (std::size_t i = 0; i < item.urls.size(); ++i) {
        EXPECT_EQ(urlLine(options, client, client.urls[i]), item.urls[i]);
    }
}

TEST(ReportLines, BusyClientInEveryCombinationOfOptions) {
    const std::string host = "  Host: ws10 [192.168.0.10]; User: alice";
    const LinesCase cases[] = {
        {{},
         host + " (size: 5MB 300KB, current/average speed: 80.0/72.5 KB/s)",
         {"    10.0.0.9:443", "    10.0.0.7:80"}},
        {{.speedMode = AverageOnly},
         host + " (size: 5MB 300KB, average speed: 72.5 KB/s)",
         {"    10.0.0.9:443", "    10.0.0.7:80"}},
        {{.detail = true},
         host + " (size: 5MB 300KB, current/average speed: 80.0/72.5 KB/s)",
         {"    10.0.0.9:443 (size: 5MB 300KB, current/average speed: 80.0/72.3 KB/s)",
          "    10.0.0.7:80 (average speed: 0.3 KB/s)"}},
        {{.detail = true, .full = true},
         host + " (sessions: 2, size: 5MB 300KB, current/average speed: 80.0/72.5 KB/s, "
                "max time: 1m 15s)",
         {"    10.0.0.9:443 (size: 5MB 300KB, time: 1m 15s, current/average speed: "
          "80.0/72.3 KB/s)",
          "    10.0.0.7:80 (time: 3s, average speed: 0.3 KB/s)"}},
        {{.detail = true, .full = true, .zero = true},
         host + " (sessions: 2, size: 5MB 300KB, current/average speed: 80.0/72.5 KB/s, "
                "max time: 1m 15s)",
         {"    10.0.0.9:443 (size: 5MB 300KB, time: 1m 15s, current/average speed: "
          "80.0/72.3 KB/s, delay_pool: 0)",
          "    10.0.0.7:80 (size: 0KB, time: 3s, average speed: 0.3 KB/s, delay_pool: 0)"}},
        {{.brief = true},
         host + " (sessions: 2, size: 5MB 300KB, current/average speed: 80.0/72.5 KB/s)",
         {"    10.0.0.9:443", "    10.0.0.7:80"}},
        {{.detail = true, .speedMode = CurrentOnly},
         host + " (size: 5MB 300KB, current speed: 80.0KB/s)",
         {"    10.0.0.9:443 (size: 5MB 300KB, current speed: 80.0KB/s)",
          "    10.0.0.7:80 (current speed: 0.0KB/s)"}},
    };
    for (const auto& item : cases) {
        expectLines(busyClient(), item);
    }
}

TEST(ReportLines, QuietClientShowsOnlyWhatIsNotZero) {
    const LinesCase cases[] = {
        {{}, "  Host: 192.168.0.11", {"    10.0.0.5:443 (count: 3)"}},
        {{.detail = true, .full = true},
         "  Host: 192.168.0.11 (sessions: 1)",
         {"    10.0.0.5:443 (count: 3, delay_pool: 2)"}},
        {{.detail = true, .full = true, .zero = true},
         "  Host: 192.168.0.11 (sessions: 1, size: 0KB, average speed: 0.0 KB/s, max time: 0s)",
         {"    10.0.0.5:443 (count: 3, size: 0KB, time: 0s, average speed: 0.0 KB/s, "
          "delay_pool: 2)"}},
    };
    for (const auto& item : cases) {
        expectLines(quietClient(), item);
    }
}

TEST(ReportLines, SecondUserAddsUserItemsAndTheCountShowsWithoutDetail) {
    Connection client = busyClient();
    client.users = {"alice", "bob"};
    client.urls[1].user = "bob";
    UrlEntry anonymous = client.urls[1];
    anonymous.user = "";
    Options options;
    options.detail = true;
    EXPECT_EQ(connectionLine(options, client),
              "  Host: ws10 [192.168.0.10]; Users: alice, bob (size: 5MB 300KB, "
              "current/average speed: 80.0/72.5 KB/s)");
    EXPECT_EQ(urlLine(options, client, client.urls[0]),
              "    10.0.0.9:443 (size: 5MB 300KB, user: alice, current/average speed: "
              "80.0/72.3 KB/s)");
    EXPECT_EQ(urlLine(options, client, client.urls[1]),
              "    10.0.0.7:80 (user: bob, average speed: 0.3 KB/s)");
    EXPECT_EQ(urlLine(options, client, anonymous),
              "    10.0.0.7:80 (user: , average speed: 0.3 KB/s)");
}

TEST(ReportLines, ThresholdsOfSizesSpeedsAndDelayPools) {
    Connection client = quietClient();
    client.urls[0].count = 1;
    Options options;
    options.detail = true;
    options.full = true;
    struct Case {
        std::int64_t size;
        std::int64_t average;
        std::int32_t pool;
        std::string line;
    };
    const Case cases[] = {
        {1024, 103, 0, "    10.0.0.5:443"},
        {1025, 104, 0, "    10.0.0.5:443 (size: 1KB, average speed: 0.1 KB/s)"},
        {0, 0, -1, "    10.0.0.5:443 (delay_pool: -1)"},
    };
    for (const auto& item : cases) {
        client.urls[0].size = item.size;
        client.urls[0].averageSpeed = item.average;
        client.urls[0].delayPool = item.pool;
        EXPECT_EQ(urlLine(options, client, client.urls[0]), item.line);
    }
    Connection quiet = quietClient();
    quiet.maxTime = 120;
    EXPECT_EQ(connectionLine(options, quiet), "  Host: 192.168.0.11 (sessions: 1, max time: 2m )");
}

TEST(ReportLines, SpeedSummaryForms) {
    EXPECT_EQ(speedSummary(BothSpeeds, 74267, 81920), "current/average speed: 80.0/72.5 KB/s");
    EXPECT_EQ(speedSummary(BothSpeeds, 20000, 3145728),
              "current/average speed: 3.00MB/s / 19.5KB/s");
    EXPECT_EQ(speedSummary(BothSpeeds, 5000, 5000), "average speed: 4.9 KB/s");
    EXPECT_EQ(speedSummary(BothSpeeds, 5000, 103), "average speed: 4.9 KB/s");
    EXPECT_EQ(speedSummary(AverageOnly, 5000, 81920), "average speed: 4.9 KB/s");
    EXPECT_EQ(speedSummary(CurrentOnly, 5000, 81920), "current speed: 80.0KB/s");
    EXPECT_EQ(speedSummary(static_cast<SpeedMode>(9), 5000, 81920), "");
}

TEST(ReportLines, HostTextByModeLookupsAndStripping) {
    const Connection client = busyClient();
    struct Case {
        HostsMode mode;
        bool lookups;
        bool strip;
        std::string text;
    };
    const Case cases[] = {
        {NameAndIp, true, true, "ws10 [192.168.0.10]"},
        {NameAndIp, true, false, "ws10.office.example.org [192.168.0.10]"},
        {NameOnly, true, true, "ws10"},
        {IpOnly, true, true, "192.168.0.10"},
        {NameAndIp, false, true, "192.168.0.10"},
        {NameOnly, false, true, "192.168.0.10"},
        {static_cast<HostsMode>(5), true, true, ""},
    };
    for (const auto& item : cases) {
        Options options;
        options.hostsMode = item.mode;
        options.hostnameLookups = item.lookups;
        options.stripDomain = item.strip;
        EXPECT_EQ(hostText(options, client), item.text);
    }
    Options options;
    EXPECT_EQ(hostText(options, quietClient()), "192.168.0.11");  // no name: shown once
}

TEST(ReportLines, HeaderLine) {
    Options options;
    EXPECT_EQ(headerLine(options, 3, 2, 74267),
              "\nActive connections: 3, active hosts: 2, average speed: 72.5 KB/s\n");
    EXPECT_EQ(headerLine(options, 1, 1, 50), "\nActive connections: 1, active hosts: 1\n");
    EXPECT_EQ(headerLine(options, 1, 1, 103), "\nActive connections: 1, active hosts: 1\n");
    options.zero = true;
    EXPECT_EQ(headerLine(options, 1, 1, 50),
              "\nActive connections: 1, active hosts: 1, average speed: 0.0 KB/s\n");
    options.users = {"alice"};
    EXPECT_EQ(headerLine(options, 1, 1, 50), "");
    options.users.clear();
    options.hosts = {"10.0.0.0/8"};
    EXPECT_EQ(headerLine(options, 1, 1, 50), "");
}

}  // namespace
}  // namespace reqwatch
