#include "report/once_run.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>

#include "cachemgr/active_requests_query.h"
#include "cachemgr/cancel_signal.h"
#include "report/json_output.h"
#include "report/openmetrics_output.h"
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

namespace {

// Raised by SIGINT, SIGTERM and SIGPIPE while a series of samples runs: the
// wait or the fetch under way ends, and so does the series, with status 0.
CancelSignal* seriesStop = nullptr;

void onSeriesSignal(int) {
    if (seriesStop != nullptr) {
        seriesStop->request();
    }
}

class SeriesSignals {
  public:
    explicit SeriesSignals(CancelSignal& stop) {
        seriesStop = &stop;
        struct sigaction action {};
        action.sa_handler = onSeriesSignal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(signals_); ++i) {
            sigaction(signals_[i], &action, &previous_[i]);
        }
    }
    ~SeriesSignals() {
        for (std::size_t i = 0; i < std::size(signals_); ++i) {
            sigaction(signals_[i], &previous_[i], nullptr);
        }
        seriesStop = nullptr;
    }
    SeriesSignals(const SeriesSignals&) = delete;
    SeriesSignals& operator=(const SeriesSignals&) = delete;

  private:
    static constexpr int signals_[] = {SIGINT, SIGTERM, SIGPIPE};
    struct sigaction previous_[std::size(signals_)]{};
};

// Waits `seconds`; false when the stop came first.
bool waitUnlessStopped(const CancelSignal& stop, std::int32_t seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (stop.requested()) {
            return false;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        pollfd descriptor{stop.descriptor(), POLLIN, 0};
        ::poll(&descriptor, 1, static_cast<int>(std::min<std::int64_t>(left.count(), INT32_MAX)));
    }
}

void printSample(const Options& options, const SampleState& state, ConnectionList& connections,
                 std::int64_t previousMilliseconds, std::ostream& out) {
    const auto clients = static_cast<std::int64_t>(connections.size());
    switch (options.format) {
        case JsonFormat:
            writeJsonSample(SampleSummary::of(state, options.host, options.port, clients,
                                              previousMilliseconds, options.hostnameLookups),
                            options, connections, out);
            break;
        case OpenMetricsFormat:
            writeOpenMetricsSample(SampleSummary::of(state, options.host, options.port, clients,
                                                     previousMilliseconds, options.hostnameLookups),
                                   options, connections, out);
            break;
        case ReportFormat:
            out << headerLine(options, state.requestCount, clients, state.totalAverageSpeed)
                << "\n";
            out.flush();
            writeOnceReport(options, connections, out);
            out << "\n";
            break;
    }
    out.flush();
}

}  // namespace

int runOnce(Options& options, std::ostream& out, std::ostream& err) {
    SampleState state;
    options.resolver.mode = Sync;
    // A single sample has no current speeds; the samples after it have.
    options.speedMode = AverageOnly;
    const bool series = options.samples != 1;
    CancelSignal stop;
    std::optional<SeriesSignals> signals;
    if (series) {
        signals.emplace(stop);
    }
    for (std::int64_t taken = 0; options.samples == 0 || taken < options.samples; ++taken) {
        if (taken > 0 && !waitUnlessStopped(stop, options.refreshInterval)) {
            break;
        }
        FetchSettings settings = FetchSettings::from(options);
        // The reference for the next sample is kept only if one follows.
        settings.keepReference = options.samples == 0 || taken + 1 < options.samples;
        settings.timeoutMilliseconds = std::int64_t{options.timeout} * 1000;
        const std::int64_t previousMilliseconds =
            state.sampleTime != 0 ? state.sampleMilliseconds : 0;
        ConnectionList connections;
        try {
            connections = fetchActiveRequests(state, settings, series ? &stop : nullptr);
        } catch (const sqstatException& error) {
            err << error.what() << "\n";
            err.flush();
            if (!series) {
                return 1;
            }
            continue;
        } catch (const FetchCancelled&) {
            break;
        }
        if (previousMilliseconds != 0) {
            options.speedMode = BothSpeeds;
        }
        printSample(options, state, connections, previousMilliseconds, out);
        if (!out) {
            break;  // the reader has gone (a closed pipe)
        }
    }
    return 0;
}

}  // namespace reqwatch
