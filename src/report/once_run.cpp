#include "report/once_run.h"

#include <ostream>

#include "cachemgr/active_requests_query.h"
#include "report/report_lines.h"
#include "select/client_filters.h"
#include "select/url_compaction.h"

namespace reqwatch {

std::string onceReport(const Options& options, ConnectionList& connections) {
    if (options.compactSameUrls) {
        compactUrls(connections);
    }
    std::string report;
    for (const auto& connection : connections) {
        if (isFilteredOut(connection, options)) {
            continue;
        }
        appendConnectionLine(report, options, connection);
        report += '\n';
        if (!options.brief) {
            for (const auto& url : connection.urls) {
                appendUrlLine(report, options, connection, url);
                report += '\n';
            }
            report += '\n';
        }
    }
    return report;
}

int runOnce(Options& options, std::ostream& out, std::ostream& err) {
    SampleState state;
    options.resolver.mode = Sync;
    options.speedMode = AverageOnly;
    ConnectionList connections;
    try {
        FetchSettings settings = FetchSettings::from(options);
        settings.keepReference = false;  // no second sample follows
        connections = fetchActiveRequests(state, settings);
    } catch (const sqstatException& error) {
        err << error.what() << "\n";
        err.flush();
        return 1;
    }
    out << headerLine(options, state.requestCount, static_cast<std::int64_t>(connections.size()),
                      state.totalAverageSpeed)
        << "\n";
    out.flush();
    out << onceReport(options, connections) << "\n";
    out.flush();
    return 0;
}

}  // namespace reqwatch
