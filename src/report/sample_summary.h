// What the machine-readable outputs say of one sample besides its clients:
// where it came from, when, and its totals over every client.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "cachemgr/records.h"

namespace reqwatch {

struct SampleSummary {
    std::string host;
    std::int32_t port = 0;
    std::time_t time = 0;  // Unix seconds, when the status line came
    std::int64_t requestCount = 0;
    std::int64_t clientCount = 0;
    std::int64_t averageSpeed = 0;  // bytes per second
    std::int64_t currentSpeed = 0;
    // Whether there was a sample before this one to measure current
    // speeds against; without one there are none.
    bool currentSpeedsKnown = false;
    // Milliseconds since that sample, which current speeds are measured over.
    std::int64_t intervalMilliseconds = 0;
    // Whether host names were looked up.
    bool namesLookedUp = false;

    // For a sample just completed in `state`; `previousMilliseconds` is the
    // state's sampleMilliseconds before the fetch, 0 when there was none.
    static SampleSummary of(const SampleState& state, const std::string& host, std::int32_t port,
                            std::int64_t clients, std::int64_t previousMilliseconds,
                            bool namesLookedUp);
};

}  // namespace reqwatch
