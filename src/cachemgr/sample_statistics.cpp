#include "cachemgr/sample_statistics.h"

#include <algorithm>
#include <limits>

#include "common/saturating.h"
#include "select/sort_orders.h"

namespace reqwatch {

void completeSample(SampleState& state, std::time_t now, std::int64_t interval) {
    state.totalAverageSpeed = 0;
    state.totalCurrentSpeed = 0;
    const std::int64_t seconds = interval < 1 ? 1 : interval;
    for (auto& connection : state.current) {
        std::sort(connection.urls.begin(), connection.urls.end(), compareUrlsBySize);
        const auto entries = static_cast<std::int64_t>(connection.urls.size());
        state.requestCount = static_cast<std::int32_t>(std::min<std::int64_t>(
            std::numeric_limits<std::int32_t>::max(), state.requestCount + entries));
        for (auto& entry : connection.urls) {
            if (entry.size == 0 || entry.elapsed == 0) {
                entry.averageSpeed = 0;
            } else if (entry.elapsed == -1 &&
                       entry.size == std::numeric_limits<std::int64_t>::min()) {
                // The one quotient that overflows.
                entry.averageSpeed = std::numeric_limits<std::int64_t>::max();
            } else {
                entry.averageSpeed = entry.size / entry.elapsed;
            }
            connection.averageSpeed = saturatingAdd(connection.averageSpeed, entry.averageSpeed);
            state.totalAverageSpeed = saturatingAdd(state.totalAverageSpeed, entry.averageSpeed);
            if (entry.size != 0 && entry.previousSize != 0 && entry.size > entry.previousSize &&
                state.sampleTime != 0) {
                entry.currentSpeed = saturatingSubtract(entry.size, entry.previousSize) / seconds;
                connection.currentSpeed =
                    saturatingAdd(connection.currentSpeed, entry.currentSpeed);
                state.totalCurrentSpeed =
                    saturatingAdd(state.totalCurrentSpeed, entry.currentSpeed);
            }
        }
    }
    std::sort(state.current.begin(), state.current.end(), compareBySize);
    state.previous = state.current;
    state.sampleTime = now;
}

}  // namespace reqwatch
