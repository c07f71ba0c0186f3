// The records of one sample: a request, a client address with its requests,
// and the state kept from one fetch to the next.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_arena.h"
#include "common/text_helpers.h"

namespace reqwatch {

// One request the proxy is serving. Its texts refer to the sample's text
// arena (see Connection::texts) or to texts that outlive the record.
struct UrlEntry {
    std::string_view id;
    std::int32_t count = 0;  // requests this entry stands for; 1 once the URL is known
    std::string_view uri;
    std::int64_t previousSize = 0;
    std::int64_t size = 0;
    std::int64_t elapsed = 0;  // whole seconds
    std::int64_t averageSpeed = 0;
    std::int64_t currentSpeed = 0;
    std::int32_t delayPool = -1;
    std::string_view user;  // lower-cased login, empty when unknown
    // The proxy worker process serving it ("by kidN" sections of the page);
    // 0 for a page without sections. Ids are unique within one worker only.
    std::int32_t worker = 0;
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
    // Keeps the texts of `urls` alive for as long as any copy of the
    // connection lives.
    std::shared_ptr<const TextArena> texts;
};

using ConnectionList = std::vector<Connection>;

// When a sample was taken: the wall clock in whole seconds, and a monotonic
// clock in milliseconds that current speeds are measured with.
struct SampleInstant {
    std::time_t wallSeconds = 0;
    std::int64_t steadyMilliseconds = 0;

    static SampleInstant now();
};

// What one fetch needs from the one before it.
struct SampleState {
    std::string server;
    std::int32_t requestCount = 0;
    std::int64_t totalAverageSpeed = 0;
    std::int64_t totalCurrentSpeed = 0;
    ConnectionList current;
    ConnectionList previous;
    std::time_t sampleTime = 0;
    // The monotonic instant of the last successful sample, in milliseconds.
    std::int64_t sampleMilliseconds = 0;
    // "host:port" of a proxy that accepted the modern request path, so that
    // the next fetch asks it that way first; empty for the legacy URL.
    std::string modernRequestEndpoint;
};

// The key that tells a request from every other of its sample: its id,
// qualified by its worker when the page has several.
std::string requestKey(const UrlEntry& entry);

}  // namespace reqwatch
