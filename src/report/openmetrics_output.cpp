#include "report/openmetrics_output.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "cachemgr/manager_connection.h"
#include "common/saturating.h"
#include "report/value_formatting.h"
#include "select/client_filters.h"

namespace reqwatch {

namespace {

// What a client's series say; "other" is the sum of the clients without
// series of their own.
struct ClientFigures {
    std::string labels;  // inside the braces, after the proxy
    std::int64_t requests = 0;
    std::int64_t size = 0;
    std::int64_t averageSpeed = 0;
    std::int64_t currentSpeed = 0;
};

void addTo(ClientFigures& sum, const Connection& connection) {
    sum.requests = saturatingAdd(sum.requests, static_cast<std::int64_t>(connection.urls.size()));
    sum.size = saturatingAdd(sum.size, connection.size);
    sum.averageSpeed = saturatingAdd(sum.averageSpeed, connection.averageSpeed);
    sum.currentSpeed = saturatingAdd(sum.currentSpeed, connection.currentSpeed);
}

class Exposition {
  public:
    void family(std::string_view name, std::string_view help) {
        text_ += "# TYPE ";
        text_ += name;
        text_ += " gauge\n# HELP ";
        text_ += name;
        text_ += ' ';
        text_ += help;
        text_ += '\n';
    }

    void sample(std::string_view name, std::string_view proxy, std::string_view labels,
                std::int64_t value) {
        text_ += name;
        text_ += "{proxy=\"";
        text_ += proxy;
        text_ += '"';
        if (!labels.empty()) {
            text_ += ',';
            text_ += labels;
        }
        text_ += "} ";
        appendNumber(text_, value);
        text_ += '\n';
    }

    std::string& text() { return text_; }

  private:
    std::string text_;
};

}  // namespace

std::string escapeLabelValue(std::string_view value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '"':
                escaped += "\\\"";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

namespace {

// A proxy's clients as its series show them: the busiest with their own,
// the rest summed under "other".
std::vector<ClientFigures> clientFigures(const ProxySample& proxy, const Options& options) {
    std::vector<const Connection*> shown;
    shown.reserve(proxy.connections->size());
    for (const auto& connection : *proxy.connections) {
        if (!isFilteredOut(connection, options)) {
            shown.push_back(&connection);
        }
    }
    // A client a page calls "other" would clash with the sum of the rest: it
    // goes into that sum.
    const auto named = std::stable_partition(
        shown.begin(), shown.end(), [](const Connection* c) { return c->peer != "other"; });
    const bool current = proxy.summary.currentSpeedsKnown;
    const auto busier = [current](const Connection* a, const Connection* b) {
        const std::int64_t first = current ? a->currentSpeed : a->averageSpeed;
        const std::int64_t second = current ? b->currentSpeed : b->averageSpeed;
        // Ties by address, so that the same sample always names the same clients.
        return first != second ? first > second : a->peer < b->peer;
    };
    const std::size_t own =
        std::min<std::size_t>(static_cast<std::size_t>(named - shown.begin()),
                              static_cast<std::size_t>(std::max(options.top, 0)));
    std::partial_sort(shown.begin(), shown.begin() + static_cast<std::ptrdiff_t>(own), named,
                      busier);
    std::vector<ClientFigures> clients;
    clients.reserve(own + 1);
    for (std::size_t i = 0; i < own; ++i) {
        const Connection& connection = *shown[i];
        ClientFigures figures;
        figures.labels = "client=\"" + escapeLabelValue(connection.peer) + '"';
        if (proxy.summary.namesLookedUp) {
            figures.labels += ",host_name=\"" + escapeLabelValue(connection.hostName) + '"';
        }
        addTo(figures, connection);
        clients.push_back(std::move(figures));
    }
    if (own < shown.size()) {
        ClientFigures other;
        other.labels = "client=\"other\"";
        for (std::size_t i = own; i < shown.size(); ++i) {
            addTo(other, *shown[i]);
        }
        clients.push_back(std::move(other));
    }
    return clients;
}

}  // namespace

void writeOpenMetricsSample(const std::vector<ProxySample>& proxies, const Options& options,
                            std::ostream& out) {
    std::vector<std::string> proxyLabels;
    std::vector<std::vector<ClientFigures>> clients;
    bool anyCurrent = false;
    for (const auto& proxy : proxies) {
        proxyLabels.push_back(
            escapeLabelValue(endpointText(proxy.summary.host, proxy.summary.port)));
        clients.push_back(proxy.connections != nullptr ? clientFigures(proxy, options)
                                                       : std::vector<ClientFigures>{});
        anyCurrent =
            anyCurrent || (proxy.connections != nullptr && proxy.summary.currentSpeedsKnown);
    }
    Exposition exposition;
    exposition.family("reqwatch_proxy_up", "1 when the proxy answered, 0 when its fetch failed.");
    for (std::size_t p = 0; p < proxies.size(); ++p) {
        exposition.sample("reqwatch_proxy_up", proxyLabels[p], "",
                          proxies[p].connections != nullptr);
    }
    struct TotalFamily {
        const char* name;
        const char* help;
        std::int64_t SampleSummary::*value;
        bool currentOnly;
    };
    const TotalFamily totals[] = {
        {"reqwatch_requests", "Requests the proxy is serving.", &SampleSummary::requestCount,
         false},
        {"reqwatch_clients", "Client addresses with requests in flight.",
         &SampleSummary::clientCount, false},
        {"reqwatch_average_speed_bytes_per_second",
         "Sum of the average speeds of the requests over their lives.",
         &SampleSummary::averageSpeed, false},
        {"reqwatch_current_speed_bytes_per_second",
         "Sum of the speeds of the requests since the previous sample.",
         &SampleSummary::currentSpeed, true},
    };
    for (const auto& family : totals) {
        if (family.currentOnly && !anyCurrent) {
            continue;
        }
        exposition.family(family.name, family.help);
        for (std::size_t p = 0; p < proxies.size(); ++p) {
            const ProxySample& proxy = proxies[p];
            if (proxy.connections == nullptr ||
                (family.currentOnly && !proxy.summary.currentSpeedsKnown)) {
                continue;
            }
            exposition.sample(family.name, proxyLabels[p], "", proxy.summary.*(family.value));
        }
    }
    struct ClientFamily {
        const char* name;
        const char* help;
        std::int64_t ClientFigures::*value;
        bool currentOnly;
    };
    const ClientFamily families[] = {
        {"reqwatch_client_requests", "Requests of the client.", &ClientFigures::requests, false},
        {"reqwatch_client_size_bytes", "Bytes sent so far to the client for its requests.",
         &ClientFigures::size, false},
        {"reqwatch_client_average_speed_bytes_per_second",
         "Sum of the average speeds of the client's requests.", &ClientFigures::averageSpeed,
         false},
        {"reqwatch_client_current_speed_bytes_per_second",
         "Sum of the speeds of the client's requests since the previous sample.",
         &ClientFigures::currentSpeed, true},
    };
    for (const auto& family : families) {
        if (family.currentOnly && !anyCurrent) {
            continue;
        }
        exposition.family(family.name, family.help);
        for (std::size_t p = 0; p < proxies.size(); ++p) {
            if (family.currentOnly && !proxies[p].summary.currentSpeedsKnown) {
                continue;
            }
            for (const auto& client : clients[p]) {
                exposition.sample(family.name, proxyLabels[p], client.labels,
                                  client.*(family.value));
            }
        }
    }
    exposition.text() += "# EOF\n";
    out.write(exposition.text().data(), static_cast<std::streamsize>(exposition.text().size()));
}

}  // namespace reqwatch
