#include "sample_from_reply.h"

#include "cachemgr/active_requests_parser.h"
#include "cachemgr/fetch_settings.h"
#include "cachemgr/sample_statistics.h"

namespace reqwatch::pagegen {

bool fetchFromReply(SampleState& state, const std::string& reply, std::time_t now) {
    static const FetchSettings settings{"", 0, "", false, nullptr};
    state.requestCount = 0;
    state.current.clear();
    ActiveRequestsParser parser(state, settings);
    bool statusLine = true;
    bool accepted = false;
    forEachLine(reply, [&](std::string_view line) {
        if (statusLine) {
            statusLine = false;
            accepted = line == "HTTP/1.1 200 OK" || line == "HTTP/1.0 200 OK";
        } else if (accepted) {
            parser.parseLine(line);
        }
    });
    if (!accepted) {
        return false;
    }
    completeSample(state, {now, static_cast<std::int64_t>(now) * 1000});
    return true;
}

std::size_t requestsIn(const SampleState& state) {
    std::size_t count = 0;
    for (const auto& connection : state.current) {
        count += connection.urls.size();
    }
    return count;
}

}  // namespace reqwatch::pagegen
