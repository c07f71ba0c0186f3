// One sample as one line of JSON (JSON Lines): raw numbers in bytes,
// seconds and bytes per second, for scripts and log shippers.
#pragma once

#include <iosfwd>

#include "app/options.h"
#include "cachemgr/records.h"
#include "report/sample_summary.h"

namespace reqwatch {

// Writes the sample's object and a line feed. The clients pass the filters
// and have their repeated URLs merged as in the report (`connections` is
// changed by the merging); the totals describe every client.
void writeJsonSample(const SampleSummary& summary, const Options& options,
                     ConnectionList& connections, std::ostream& out);

}  // namespace reqwatch
