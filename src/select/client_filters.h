// Restricting a report to some clients: by address ("ip[/mask]" entries) and
// by login. An empty list is no filter; a client must pass every non-empty one.
#pragma once

#include "app/options.h"
#include "cachemgr/records.h"

namespace reqwatch {

// True when the client address matches one entry. An entry matches no client
// when it is empty or its prefix length lies outside 0 to 32.
bool hostsMatch(const StringList& hosts, const Connection& connection);

// True when one of the connection's logins is in the list, byte for byte.
bool usersMatch(const StringList& users, const Connection& connection);

bool isFilteredOut(const Connection& connection, const Options& options);

// Drops the filtered-out connections, keeping the order of the others.
void filterConnections(ConnectionList& connections, const Options& options);

}  // namespace reqwatch
