#pragma once

#include "cachemgr/records.h"

namespace reqwatch {

// Merges the requests of each connection that ask for the same URL into one
// entry with a count, summed size and elapsed time, and their average speed;
// the merged lists are ordered by size, largest first. The connections'
// own totals stay as they are.
void compactUrls(ConnectionList& connections);

}  // namespace reqwatch
