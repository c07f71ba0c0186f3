#pragma once

#include <cstdint>
#include <ctime>

#include "cachemgr/records.h"

namespace reqwatch {

// Completes a parsed sample: orders requests and connections by size, works
// out average and current speeds with their sums, counts the requests, and
// keeps the sample as the reference for the next one. `now` is the time the
// status line was read, `interval` the seconds since the previous sample.
void completeSample(SampleState& state, std::time_t now, std::int64_t interval);

}  // namespace reqwatch
