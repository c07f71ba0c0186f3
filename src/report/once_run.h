// The once-only run: one sample, printed as a summary line and one block of
// lines per client connection.
#pragma once

#include <iosfwd>
#include <string>

#include "app/options.h"
#include "cachemgr/records.h"

namespace reqwatch {

// The report text of one sample; merges repeated URLs of `connections` first
// when that is on.
std::string onceReport(const Options& options, ConnectionList& connections);
// The same text written to `out` as it is built.
void writeOnceReport(const Options& options, ConnectionList& connections, std::ostream& out);

// Fetches one sample and prints it to `out`. Returns the exit status: 0 after
// printing, 1 after a failed fetch, whose message goes to `err`.
int runOnce(Options& options, std::ostream& out, std::ostream& err);

}  // namespace reqwatch
