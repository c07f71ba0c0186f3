// The records of one sample: a request, a client address with its requests,
// and the state kept from one fetch to the next.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/text_helpers.h"

namespace reqwatch {

// One request the proxy is serving.
struct UrlEntry {
    std::string id;
    std::int32_t count = 0;  // requests this entry stands for; 1 once the URL is known
    std::string uri;
    std::int64_t previousSize = 0;
    std::int64_t size = 0;
    std::int64_t elapsed = 0;  // whole seconds
    std::int64_t averageSpeed = 0;
    std::int64_t currentSpeed = 0;
    std::int32_t delayPool = -1;
    std::string user;  // lower-cased login, empty when unknown
};

// One client address ("connection") with all of its requests.
struct Connection {
    std::string peer;
    std::string hostName;
    std::int64_t size = 0;
    std::int64_t maxTime = 0;
    std::int64_t averageSpeed = 0;
    std::int64_t currentSpeed = 0;
    std::vector<UrlEntry> urls;
    StringList users;  // distinct logins in order of first appearance
};

using ConnectionList = std::vector<Connection>;

// What one fetch needs from the one before it.
struct SampleState {
    std::string server;
    std::int32_t requestCount = 0;
    std::int64_t totalAverageSpeed = 0;
    std::int64_t totalCurrentSpeed = 0;
    ConnectionList current;
    ConnectionList previous;
    std::time_t sampleTime = 0;
    // "host:port" of a proxy that accepted the modern request path, so that
    // the next fetch asks it that way first; empty for the legacy URL.
    std::string modernRequestEndpoint;
};

}  // namespace reqwatch
