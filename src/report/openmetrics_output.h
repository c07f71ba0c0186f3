// One sample in the OpenMetrics text exposition (which Prometheus and the
// node_exporter textfile collector read): totals of the proxy and gauges per
// client, the busiest clients each with series of their own and the others
// summed under client="other", so that the number of series stays bounded.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "cachemgr/records.h"
#include "report/sample_summary.h"

namespace reqwatch {

// One proxy's sample; no connections for a proxy whose fetch failed.
struct ProxySample {
    SampleSummary summary;
    const ConnectionList* connections = nullptr;
};

// Writes the exposition of the proxies' samples, ended by "# EOF". Every
// series carries its proxy; reqwatch_proxy_up tells which proxies answered.
// The clients pass the filters; `options.top` of each proxy's, by current
// speed (by average speed while current speeds are unknown), get series of
// their own.
void writeOpenMetricsSample(const std::vector<ProxySample>& proxies, const Options& options,
                            std::ostream& out);

// A label value as the exposition writes it: backslash, double quote and
// line feed escaped.
std::string escapeLabelValue(std::string_view value);

}  // namespace reqwatch
