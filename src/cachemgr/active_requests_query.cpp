#include "cachemgr/active_requests_query.h"

#include "cachemgr/active_requests_parser.h"
#include "cachemgr/base64.h"
#include "cachemgr/manager_connection.h"
#include "cachemgr/sample_statistics.h"

namespace reqwatch {

namespace {

bool isAcceptedStatusLine(const std::string& line) {
    return line == "HTTP/1.0 200 OK" || line == "HTTP/1.1 200 OK";
}

// A status line that refuses the login itself: asking the other way round
// would only be refused again.
bool refusesLogin(const std::string& line) {
    const auto blank = line.find(' ');
    if (line.rfind("HTTP/", 0) != 0 || blank == std::string::npos) {
        return false;
    }
    const std::string_view code = std::string_view(line).substr(blank + 1);
    return (code.starts_with("401") || code.starts_with("407")) &&
           (code.size() == 3 || code[3] == ' ');
}

// What of a refused reply is read before the connection is closed.
constexpr std::size_t refusedReplyLimit = 1024 * 1024;
constexpr std::chrono::milliseconds refusedReplyPatience{2000};

}  // namespace

std::string activeRequestsRequest(bool modern, const std::string& pass) {
    std::string request = modern ? "GET /squid-internal-mgr/active_requests HTTP/1.0\n"
                                 : "GET cache_object://localhost/active_requests HTTP/1.0\n";
    if (!pass.empty()) {
        request += "Authorization: Basic " + base64Encode("admin:" + pass) + "\n";
    }
    return request;  // sendRequest adds the closing CR LF
}

void reportFormatChanged(const std::string& server, const std::string& line) {
    std::string message = "Warning!!! Please send bug report.";
    message += " active_requests format changed - '";
    message += line;
    message += "'.";
    message += " ";
    message += server;
    message += ".";
    message += " ";
    message += programName;
    message += "-";
    message += programVersion;
    throw sqstatException(std::move(message), sqstatException::FormatChanged);
}

ConnectionList fetchActiveRequests(SampleState& state, Options& options) {
    return fetchActiveRequests(state, FetchSettings::from(options));
}

ConnectionList fetchActiveRequests(SampleState& state, const FetchSettings& settings,
                                   const CancelSignal* cancel) {
    state.requestCount = 0;
    const std::string endpoint = endpointText(settings.host, settings.port);
    ManagerConnection::Deadline deadline;
    if (settings.timeoutMilliseconds > 0) {
        deadline = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(settings.timeoutMilliseconds);
    }
    // Squid 7 no longer serves the legacy URL; every Squid since 3.2 serves
    // the modern path too. A proxy that refused one is asked once more with
    // the other, and the one it accepted is tried first from then on.
    const bool modernFirst = state.modernRequestEndpoint == endpoint;
    try {
        for (int attempt = 0;; ++attempt) {
            const bool modern = attempt == 0 ? modernFirst : !modernFirst;
            ManagerConnection connection(cancel, deadline);
            try {
                connection.openConnection(settings.host, settings.port);
            } catch (const sqconnException& error) {
                throw sqstatException(error.message + " while connecting to " + endpoint,
                                      sqstatException::ConnectFailed);
            }
            state.current.clear();
            try {
                connection.sendRequest(activeRequestsRequest(modern, settings.pass));
                std::string line;
                if (!connection.receiveLine(line)) {
                    throw sqstatException("Empty reply from " + endpoint,
                                          sqstatException::TransportFailed);
                }
                if (!isAcceptedStatusLine(line)) {
                    if (attempt == 0 && !refusesLogin(line)) {
                        connection.discardRest(refusedReplyLimit, refusedReplyPatience);
                        continue;
                    }
                    throw sqstatException("Access to squid statistic denied: " + line,
                                          sqstatException::AccessDenied);
                }
                state.modernRequestEndpoint = modern ? endpoint : std::string();
                const SampleInstant now = settings.clock();
                ActiveRequestsParser parser(state, settings);
                std::string_view pageLine;
                while (connection.receiveLine(pageLine)) {
                    parser.parseLine(pageLine);
                }
                completeSample(state, now, settings.keepReference);
            } catch (const sqconnException& error) {
                throw sqstatException(error.message, sqstatException::TransportFailed);
            }
            connection.closeConnection();
            // The caller gets the sample itself; the state keeps its reference copy.
            return std::move(state.current);
        }
    } catch (const FetchTimedOut&) {
        throw sqstatException("Timed out after " +
                                  std::to_string(settings.timeoutMilliseconds / 1000) +
                                  " s waiting for " + endpoint,
                              sqstatException::TransportFailed);
    }
}

}  // namespace reqwatch
