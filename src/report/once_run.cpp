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
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "app/proxy_list.h"
#include "cachemgr/active_requests_query.h"
#include "cachemgr/cancel_signal.h"
#include "common/saturating.h"
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
    const auto write = [&report, &out] {
        out.write(report.data(), static_cast<std::streamsize>(report.size()));
        report.clear();
    };
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
                    write();
                }
            }
            report += '\n';
        }
        if (report.size() >= block) {
            write();
        }
    }
    write();
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

// One proxy of the run: its own samples, and what its last fetch gave.
struct ProxyRun {
    ProxyAddress address;
    SampleState state;
    ConnectionList connections;
    std::optional<std::string> failure;
    std::int64_t previousMilliseconds = 0;  // of the sample before this one, 0 for none
};

void fetchOne(ProxyRun& proxy, Options& options, bool keepReference, const CancelSignal* stop) {
    FetchSettings settings = FetchSettings::from(options, proxy.address);
    // The reference for the next sample is kept only if one follows.
    settings.keepReference = keepReference;
    settings.timeoutMilliseconds = std::int64_t{options.timeout} * 1000;
    proxy.previousMilliseconds = proxy.state.sampleTime != 0 ? proxy.state.sampleMilliseconds : 0;
    proxy.failure.reset();
    proxy.connections.clear();
    try {
        proxy.connections = fetchActiveRequests(proxy.state, settings, stop);
    } catch (const sqstatException& error) {
        proxy.failure = error.what();
    }
}

// Every proxy at once, each on a thread of its own, so that a slow one
// delays only its own figures. Throws FetchCancelled when stopped.
void fetchAll(std::vector<ProxyRun>& proxies, Options& options, bool keepReference,
              const CancelSignal* stop) {
    if (proxies.size() == 1) {
        fetchOne(proxies.front(), options, keepReference, stop);
        return;
    }
    std::vector<std::thread> threads;
    std::vector<char> cancelled(proxies.size(), 0);
    threads.reserve(proxies.size());
    for (std::size_t i = 0; i < proxies.size(); ++i) {
        threads.emplace_back([&, i] {
            try {
                fetchOne(proxies[i], options, keepReference, stop);
            } catch (const FetchCancelled&) {
                cancelled[i] = 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    if (std::find(cancelled.begin(), cancelled.end(), 1) != cancelled.end()) {
        throw FetchCancelled();
    }
}

SampleSummary summaryOf(const ProxyRun& proxy, const Options& options) {
    return SampleSummary::of(proxy.state, proxy.address.host, proxy.address.port,
                             static_cast<std::int64_t>(proxy.connections.size()),
                             proxy.previousMilliseconds, options.hostnameLookups);
}

// The report of one proxy among several: a line naming it above its own
// summary line and clients. True when it ends with an empty line.
bool writeSection(const Options& options, ProxyRun& proxy, std::ostream& out) {
    out << "Proxy " << proxy.address.text() << "\n";
    if (proxy.failure) {
        out << *proxy.failure << "\n";
        return false;
    }
    std::string header = headerLine(options, proxy.state.requestCount,
                                    static_cast<std::int64_t>(proxy.connections.size()),
                                    proxy.state.totalAverageSpeed);
    if (!header.empty()) {
        header.erase(0, 1);  // the line above opens the section
    }
    out << header << "\n";
    const bool anyClient = std::any_of(
        proxy.connections.begin(), proxy.connections.end(),
        [&options](const Connection& connection) { return !isFilteredOut(connection, options); });
    writeOnceReport(options, proxy.connections, out);
    // Every block of the report ends with an empty line, and without a client
    // the line after the summary is the last.
    return !anyClient || !options.brief;
}

// The totals over every proxy that answered; a client of several counts once.
void writeTotals(const Options& options, const std::vector<ProxyRun>& proxies, bool afterBlank,
                 std::ostream& out) {
    std::int64_t requests = 0;
    std::int64_t speed = 0;
    std::unordered_set<std::string_view> clients;
    for (const auto& proxy : proxies) {
        if (proxy.failure) {
            continue;
        }
        requests += proxy.state.requestCount;
        speed = saturatingAdd(speed, proxy.state.totalAverageSpeed);
        for (const auto& connection : proxy.connections) {
            clients.insert(connection.peer);
        }
    }
    std::string line =
        headerLine(options, requests, static_cast<std::int64_t>(clients.size()), speed);
    if (!line.empty()) {
        line.replace(0, std::string("\nActive").size(),
                     afterBlank ? "All proxies: active" : "\nAll proxies: active");
        out << line;
    }
}

// Every proxy that answered; with one proxy, that one has.
void printSamples(Options& options, std::vector<ProxyRun>& proxies, std::ostream& out) {
    switch (options.format) {
        case JsonFormat:
            for (auto& proxy : proxies) {
                if (!proxy.failure) {
                    writeJsonSample(summaryOf(proxy, options), options, proxy.connections, out);
                }
            }
            break;
        case OpenMetricsFormat: {
            std::vector<ProxySample> samples;
            for (auto& proxy : proxies) {
                samples.push_back(
                    {summaryOf(proxy, options), proxy.failure ? nullptr : &proxy.connections});
            }
            writeOpenMetricsSample(samples, options, out);
            break;
        }
        case ReportFormat: {
            if (proxies.size() == 1) {
                ProxyRun& proxy = proxies.front();
                out << headerLine(options, proxy.state.requestCount,
                                  static_cast<std::int64_t>(proxy.connections.size()),
                                  proxy.state.totalAverageSpeed)
                    << "\n";
                out.flush();
                writeOnceReport(options, proxy.connections, out);
                out << "\n";
                break;
            }
            // One empty line between sections, as between the blocks of one.
            bool afterBlank = false;
            for (auto& proxy : proxies) {
                if (!afterBlank) {
                    out << "\n";
                }
                afterBlank = writeSection(options, proxy, out);
                out.flush();
            }
            writeTotals(options, proxies, afterBlank, out);
            out << "\n";
            break;
        }
    }
    out.flush();
}

}  // namespace

int runOnce(Options& options, std::ostream& out, std::ostream& err) {
    options.resolver.mode = Sync;
    // A single sample has no current speeds; the samples after it have.
    options.speedMode = AverageOnly;
    const bool series = options.samples != 1;
    CancelSignal stop;
    std::optional<SeriesSignals> signals;
    if (series) {
        signals.emplace(stop);
    }
    std::vector<ProxyRun> proxies;
    for (const auto& address : proxiesOf(options)) {
        proxies.push_back({address, {}, {}, {}, 0});
    }
    int status = 0;
    for (std::int64_t taken = 0; options.samples == 0 || taken < options.samples; ++taken) {
        if (taken > 0 && !waitUnlessStopped(stop, options.refreshInterval)) {
            break;
        }
        const bool keepReference = options.samples == 0 || taken + 1 < options.samples;
        try {
            fetchAll(proxies, options, keepReference, series ? &stop : nullptr);
        } catch (const FetchCancelled&) {
            break;
        }
        bool answered = false;
        for (const auto& proxy : proxies) {
            if (proxy.failure) {
                err << *proxy.failure << "\n";
                // A single sample that fails ends the run with status 1; a
                // series goes on.
                status = series ? status : 1;
            } else {
                answered = true;
            }
        }
        err.flush();
        if (!answered && (proxies.size() == 1 || !series)) {
            if (!series) {
                return 1;
            }
            continue;
        }
        if (std::any_of(proxies.begin(), proxies.end(),
                        [](const ProxyRun& proxy) { return proxy.previousMilliseconds != 0; })) {
            options.speedMode = BothSpeeds;
        }
        printSamples(options, proxies, out);
        if (!out) {
            break;  // the reader has gone (a closed pipe)
        }
    }
    return status;
}

}  // namespace reqwatch
