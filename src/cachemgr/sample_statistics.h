#pragma once

#include <cstdint>

#include "cachemgr/records.h"

namespace reqwatch {

// Completes a parsed sample: orders requests and connections by size, works
// out average speeds and, against the previous sample, current speeds over
// the milliseconds between the two, with their sums; counts the requests,
// and keeps the sample as the reference for the next one (unless there will
// be none). `now` is when the status line was read.
void completeSample(SampleState& state, SampleInstant now, bool keepReference = true);

// Bytes per second of `bytes` over `milliseconds` (at least 1), truncated.
std::int64_t bytesPerSecond(std::int64_t bytes, std::int64_t milliseconds);

// Makes `previous` the reference copy of `current`: the same connections and
// requests with all their numbers and ids, without the URL, login and name
// texts that no later fetch reads.
void keepAsReference(SampleState& state);

}  // namespace reqwatch
