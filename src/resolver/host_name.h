#pragma once

#include <string>

namespace reqwatch {

// Cuts a host name before its first "."; a dotted IPv4 address stays whole.
void shortenHostName(std::string& name);

}  // namespace reqwatch
