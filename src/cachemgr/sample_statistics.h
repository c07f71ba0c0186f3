#pragma once

#include <cstdint>
#include <ctime>

#include "cachemgr/records.h"

namespace reqwatch {

// Completes a parsed sample: orders requests and connections by size, works
// out average and current speeds with their sums, counts the requests, and
// keeps the sample as the reference for the next one (unless there will be
// none). `now` is the time the status line was read, `interval` the seconds
// since the previous sample.
void completeSample(SampleState& state, std::time_t now, std::int64_t interval,
                    bool keepReference = true);

// Makes `previous` the reference copy of `current`: the same connections and
// requests with all their numbers and ids, without the URL, login and name
// texts that no later fetch reads.
void keepAsReference(SampleState& state);

}  // namespace reqwatch
