// Feeds a page text to the parser line by line, as a fetch does.
#pragma once

#include <string>

#include "cachemgr/active_requests_parser.h"
#include "cachemgr/line_bytes.h"

namespace reqwatch {

inline void parsePage(SampleState& state, const std::string& page,
                      const FetchSettings& settings = {"", 0, "", false, nullptr}) {
    ActiveRequestsParser parser(state, settings);
    std::string line;
    const char* begin = page.data();
    const char* end = begin + page.size();
    while (begin < end) {
        const char* next = takeLineBytes(line, begin, end);
        if (next == nullptr) {
            break;
        }
        parser.parseLine(line);
        line.clear();
        begin = next;
    }
}

}  // namespace reqwatch
