#include "cachemgr/sample_statistics.h"

#include <algorithm>
#include <limits>

#include "common/saturating.h"
#include "select/sort_orders.h"

namespace reqwatch {

void keepAsReference(SampleState& state) {
    // The next fetch reads only ids and sizes of this sample: keep every
    // record and number, but not the texts of the requests.
    // The ids go to an arena of their own, so that the sample's texts are
    // not kept alive by the reference.
    auto ids = std::make_shared<TextArena>();
    state.previous.clear();
    state.previous.reserve(state.current.size());
    for (const auto& connection : state.current) {
        Connection& kept = state.previous.emplace_back();
        kept.texts = ids;
        kept.peer = connection.peer;
        kept.size = connection.size;
        kept.maxTime = connection.maxTime;
        kept.averageSpeed = connection.averageSpeed;
        kept.currentSpeed = connection.currentSpeed;
        kept.urls.reserve(connection.urls.size());
        for (const auto& entry : connection.urls) {
            UrlEntry& reference = kept.urls.emplace_back();
            reference.id = ids->store(entry.id);
            reference.worker = entry.worker;
            reference.count = entry.count;
            reference.previousSize = entry.previousSize;
            reference.size = entry.size;
            reference.elapsed = entry.elapsed;
            reference.averageSpeed = entry.averageSpeed;
            reference.currentSpeed = entry.currentSpeed;
            reference.delayPool = entry.delayPool;
        }
    }
}

namespace {

__extension__ using WideInteger = __int128;

}  // namespace

std::int64_t bytesPerSecond(std::int64_t bytes, std::int64_t milliseconds) {
    const WideInteger perSecond =
        static_cast<WideInteger>(bytes) * 1000 / (milliseconds < 1 ? 1 : milliseconds);
    constexpr auto largest = std::numeric_limits<std::int64_t>::max();
    constexpr auto smallest = std::numeric_limits<std::int64_t>::min();
    return perSecond > largest    ? largest
           : perSecond < smallest ? smallest
                                  : static_cast<std::int64_t>(perSecond);
}

void completeSample(SampleState& state, SampleInstant now, bool keepReference) {
    state.totalAverageSpeed = 0;
    state.totalCurrentSpeed = 0;
    const std::int64_t milliseconds = now.steadyMilliseconds - state.sampleMilliseconds;
    for (auto& connection : state.current) {
        sortUrlsBySize(connection.urls);
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
                entry.currentSpeed = bytesPerSecond(
                    saturatingSubtract(entry.size, entry.previousSize), milliseconds);
                connection.currentSpeed =
                    saturatingAdd(connection.currentSpeed, entry.currentSpeed);
                state.totalCurrentSpeed =
                    saturatingAdd(state.totalCurrentSpeed, entry.currentSpeed);
            }
        }
    }
    std::sort(state.current.begin(), state.current.end(), compareBySize);
    if (keepReference) {
        keepAsReference(state);
    } else {
        state.previous.clear();
    }
    state.sampleTime = now.wallSeconds;
    state.sampleMilliseconds = now.steadyMilliseconds;
}

}  // namespace reqwatch
