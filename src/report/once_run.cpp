#include "report/once_run.h"

#include <ostream>
#include <sstream>

#include "cachemgr/active_requests_query.h"
#include "report/report_lines.h"
#include "select/client_filters.h"
#include "select/url_compaction.h"

namespace reqwatch {

void writeOnceReport(const Options& options, ConnectionList& connections, std::ostream& out) {
    if (options.compactSameUrls) {
        compactUrls(connections);
    }
    // Written out in blocks as it grows, so that the report of a busy proxy
    // never sits in memory whole.
    constexpr std::size_t block = 64 * 1024;
    std::string report;
    report.reserve(2 * block);
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
                if (report.size() >= block) {
                    out.write(report.data(), static_cast<std::streamsize>(report.size()));
                    report.clear();
                }
            }
            report += '\n';
        }
        if (report.size() >= block) {
            out.write(report.data(), static_cast<std::streamsize>(report.size()));
            report.clear();
        }
    }
    out.write(report.data(), static_cast<std::streamsize>(report.size()));
}

std::string onceReport(const Options& options, ConnectionList& connections) {
    std::ostringstream report;
    writeOnceReport(options, connections, report);
    return report.str();
}

int runOnce(Options& options, std::ostream& out, std::ostream& err) {
    SampleState state;
    options.resolver.mode = Sync;
    options.speedMode = AverageOnly;
    ConnectionList connections;
    try {
        FetchSettings settings = FetchSettings::from(options);
        settings.keepReference = false;  // no second sample follows
        settings.timeoutMilliseconds = std::int64_t{options.timeout} * 1000;
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
    writeOnceReport(options, connections, out);
    out << "\n";
    out.flush();
    return 0;
}

}  // namespace reqwatch
