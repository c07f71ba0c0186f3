// A completed sample from a reply held in memory, read the way a fetch reads
// it from the socket (blocks of 256 KiB, the line rules, the parser and the
// statistics), without the socket.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "cachemgr/records.h"

namespace reqwatch::pagegen {

inline constexpr std::size_t readBlockSize = 256 * 1024;

// False for a reply whose status line a fetch would refuse.
bool fetchFromReply(SampleState& state, const std::string& reply, std::time_t now);

std::size_t requestsIn(const SampleState& state);

}  // namespace reqwatch::pagegen
