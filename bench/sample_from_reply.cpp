#include "sample_from_reply.h"

#include <algorithm>
#include <cstring>

#include "cachemgr/active_requests_parser.h"
#include "cachemgr/fetch_settings.h"
#include "cachemgr/line_reader.h"
#include "cachemgr/sample_statistics.h"

namespace reqwatch::pagegen {

bool fetchFromReply(SampleState& state, const std::string& reply, std::time_t now) {
    static const FetchSettings settings{"", 0, "", false, nullptr};
    state.requestCount = 0;
    state.current.clear();
    // The reply in blocks, as the socket hands it over.
    LineReader reader(readBlockSize);
    std::size_t offset = 0;
    const auto read = [&](char* buffer, std::size_t capacity) {
        const std::size_t count = std::min(capacity, reply.size() - offset);
        std::memcpy(buffer, reply.data() + offset, count);
        offset += count;
        return count;
    };
    std::string_view line;
    if (!reader.next(line, read) || (line != "HTTP/1.1 200 OK" && line != "HTTP/1.0 200 OK")) {
        return false;
    }
    const std::int64_t interval = static_cast<std::int64_t>(now) - state.sampleTime;
    ActiveRequestsParser parser(state, settings);
    while (reader.next(line, read)) {
        parser.parseLine(line);
    }
    completeSample(state, now, interval);
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
