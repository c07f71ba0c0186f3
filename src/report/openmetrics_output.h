// One sample in the OpenMetrics text exposition (which Prometheus and the
// node_exporter textfile collector read): totals of the proxy and gauges per
// client, the busiest clients each with series of their own and the others
// summed under client="other", so that the number of series stays bounded.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "app/options.h"
#include "cachemgr/records.h"
#include "report/sample_summary.h"

namespace reqwatch {

// Writes the exposition, ended by "# EOF". The clients pass the filters;
// `options.top` of them, by current speed (by average speed while current
// speeds are unknown), get series of their own.
void writeOpenMetricsSample(const SampleSummary& summary, const Options& options,
                            const ConnectionList& connections, std::ostream& out);

// A label value as the exposition writes it: backslash, double quote and
// line feed escaped.
std::string escapeLabelValue(std::string_view value);

}  // namespace reqwatch
