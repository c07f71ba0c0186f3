#include "cachemgr/active_requests_query.h"

#include <ctime>

#include "cachemgr/active_requests_parser.h"
#include "cachemgr/base64.h"
#include "cachemgr/manager_connection.h"
#include "cachemgr/sample_statistics.h"

namespace reqwatch {

namespace {

bool isAcceptedStatusLine(const std::string& line) {
    return line == "HTTP/1.0 200 OK" || line == "HTTP/1.1 200 OK";
}

std::string endpointText(const FetchSettings& settings) {
    return settings.host + ":" + std::to_string(settings.port);
}

}  // namespace

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
    ManagerConnection connection(cancel);
    try {
        connection.openConnection(settings.host, settings.port);
    } catch (const sqconnException& error) {
        throw sqstatException(error.message + " while connecting to " + endpointText(settings),
                              sqstatException::ConnectFailed);
    }
    state.current.clear();

    std::string request = "GET cache_object://localhost/active_requests HTTP/1.0\n";
    if (!settings.pass.empty()) {
        request += "Authorization: Basic " + base64Encode("admin:" + settings.pass) + "\n";
    }
    try {
        connection.sendRequest(request);
        std::string line;
        if (!connection.receiveLine(line)) {
            throw sqstatException("Empty reply from " + endpointText(settings),
                                  sqstatException::TransportFailed);
        }
        if (!isAcceptedStatusLine(line)) {
            throw sqstatException("Access to squid statistic denied: " + line,
                                  sqstatException::AccessDenied);
        }
        const std::time_t now = std::time(nullptr);
        const std::int64_t interval = static_cast<std::int64_t>(now) - state.sampleTime;
        ActiveRequestsParser parser(state, settings);
        std::string_view pageLine;
        while (connection.receiveLine(pageLine)) {
            parser.parseLine(pageLine);
        }
        completeSample(state, now, interval, settings.keepReference);
    } catch (const sqconnException& error) {
        throw sqstatException(error.message, sqstatException::TransportFailed);
    }
    connection.closeConnection();
    // The caller gets the sample itself; the state keeps its reference copy.
    return std::move(state.current);
}

}  // namespace reqwatch
