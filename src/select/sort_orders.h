// Orders of connections (busiest first by one measure) and of the requests of
// one connection (largest first).
#pragma once

#include <array>

#include "app/options.h"
#include "cachemgr/records.h"

namespace reqwatch {

bool compareBySize(const Connection& a, const Connection& b);
bool compareByCurrentSpeed(const Connection& a, const Connection& b);
bool compareByAverageSpeed(const Connection& a, const Connection& b);
bool compareByMaxTime(const Connection& a, const Connection& b);
bool compareUrlsBySize(const UrlEntry& a, const UrlEntry& b);

using ConnectionComparator = bool (*)(const Connection&, const Connection&);

// Indexed by SortOrder.
extern const std::array<ConnectionComparator, 4> sortComparators;

// Orders the requests of one connection by compareUrlsBySize, largest first;
// unstable. Sorts their sizes and moves each entry once.
void sortUrlsBySize(std::vector<UrlEntry>& urls);

// Sorts in place, unstably; an order outside the table leaves the list as it is.
void sortConnections(ConnectionList& connections, SortOrder order);

}  // namespace reqwatch
