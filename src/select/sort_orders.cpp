#include "select/sort_orders.h"

#include <algorithm>

namespace reqwatch {

bool compareBySize(const Connection& a, const Connection& b) { return a.size > b.size; }

bool compareByCurrentSpeed(const Connection& a, const Connection& b) {
    return a.currentSpeed > b.currentSpeed;
}

bool compareByAverageSpeed(const Connection& a, const Connection& b) {
    return a.averageSpeed > b.averageSpeed;
}

bool compareByMaxTime(const Connection& a, const Connection& b) { return a.maxTime > b.maxTime; }

bool compareUrlsBySize(const UrlEntry& a, const UrlEntry& b) { return a.size > b.size; }

const std::array<ConnectionComparator, 4> sortComparators = {
    compareBySize,
    compareByCurrentSpeed,
    compareByAverageSpeed,
    compareByMaxTime,
};

void sortConnections(ConnectionList& connections, SortOrder order) {
    // Negative values are as far outside the table as values above 3.
    if (order < 0 || static_cast<std::size_t>(order) >= sortComparators.size()) {
        return;
    }
    std::sort(connections.begin(), connections.end(), sortComparators[order]);
}

}  // namespace reqwatch
