// A completed sample from a reply held in memory, read the way a fetch reads
// it from the socket (blocks of 256 KiB, the line rules, the parser and the
// statistics), without the socket.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cachemgr/line_reader.h"
#include "cachemgr/records.h"

namespace reqwatch::pagegen {

inline constexpr std::size_t readBlockSize = 256 * 1024;

// Hands every line of `reply` to `use` as ManagerConnection::receiveLine
// does when each read returns one block of readBlockSize bytes.
template <typename Use>
void forEachLine(const std::string& reply, Use&& use) {
    LineReader reader(readBlockSize);
    std::size_t offset = 0;
    const auto read = [&](char* buffer, std::size_t capacity) {
        const std::size_t count = std::min(capacity, reply.size() - offset);
        std::memcpy(buffer, reply.data() + offset, count);
        offset += count;
        return count;
    };
    std::string_view line;
    while (reader.next(line, read)) {
        use(line);
    }
}

// False for a reply whose status line a fetch would refuse.
bool fetchFromReply(SampleState& state, const std::string& reply, std::time_t now);

std::size_t requestsIn(const SampleState& state);

}  // namespace reqwatch::pagegen
