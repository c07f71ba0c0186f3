// The one configuration record of a run: command-line settings, the display
// state of the interactive screen, and the host name resolver.
#pragma once

#include <cstdint>
#include <string>

#include "common/text_helpers.h"
#include "resolver/host_resolver.h"

namespace reqwatch {

enum SpeedMode : std::int32_t { BothSpeeds = 0, AverageOnly = 1, CurrentOnly = 2 };

enum SortOrder : std::int32_t { BySize = 0, ByCurrentSpeed = 1, ByAverageSpeed = 2, ByMaxTime = 3 };

enum HostsMode : std::int32_t { NameAndIp = 0, NameOnly = 1, IpOnly = 2 };

// What the once-only run prints: the report, or one JSON object or one
// OpenMetrics exposition per sample.
enum OutputFormat : std::int32_t { ReportFormat = 0, JsonFormat = 1, OpenMetricsFormat = 2 };

inline constexpr const char* programName = "reqwatch";
inline constexpr const char* programVersion = "2015-02-08";

class Options {
  public:
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    // Copies every setting except the filter lists, `refreshing`,
    // `messageVisible` and the resolver.
    void copySettings(const Options& other);

    std::string host = "127.0.0.1";
    std::int32_t port = 3128;
    std::string pass;
    // The file the password was read from (pass-file); empty when it came
    // from -P, the environment or nowhere.
    std::string passFile;
    StringList hosts;
    StringList users;
    bool brief = false;
    bool full = false;
    bool zero = false;
    bool detail = false;
    bool interactive = true;
    bool compactLongUrls = true;
    bool compactSameUrls = true;
    bool promptActive = false;
    bool refreshing = true;
    std::int32_t refreshInterval = 2;
    // The longest one fetch may take, in seconds; 0 for no limit of the
    // user's (the live screen then gives up after 30 s).
    std::int32_t timeout = 0;
    // The once-only run: its output, how many samples it takes (0 for no
    // end), and how many clients have series of their own in OpenMetrics.
    OutputFormat format = ReportFormat;
    std::int32_t samples = 1;
    std::int32_t top = 20;
    // The settings file that the live screen's "w" key writes.
    std::string settingsPath;
    bool helpShown = false;
    bool messageVisible = false;
    SpeedMode speedMode = BothSpeeds;
    SortOrder sortOrder = BySize;
    HostResolver resolver;
    bool hostnameLookups = true;
    bool stripDomain = true;
    HostsMode hostsMode = NameAndIp;
};

}  // namespace reqwatch
