#include "report/sample_summary.h"

#include <algorithm>

namespace reqwatch {

SampleSummary SampleSummary::of(const SampleState& state, const std::string& host,
                                std::int32_t port, std::int64_t clients,
                                std::int64_t previousMilliseconds, bool namesLookedUp) {
    SampleSummary summary;
    summary.host = host;
    summary.port = port;
    summary.time = state.sampleTime;
    summary.requestCount = state.requestCount;
    summary.clientCount = clients;
    summary.averageSpeed = state.totalAverageSpeed;
    summary.currentSpeed = state.totalCurrentSpeed;
    summary.currentSpeedsKnown = previousMilliseconds != 0;
    if (summary.currentSpeedsKnown) {
        // As the speeds take it: at least a millisecond.
        summary.intervalMilliseconds =
            std::max<std::int64_t>(state.sampleMilliseconds - previousMilliseconds, 1);
    }
    summary.namesLookedUp = namesLookedUp;
    return summary;
}

}  // namespace reqwatch
