#include "select/sort_orders.h"

#include <algorithm>

namespace reqwatch {

bool compareBySize(const Connection& a, const Connection& b) {
    return a.size > b.size;
}

bool compareByCurrentSpeed(const Connection& a, const Connection& b) {
    return a.currentSpeed > b.currentSpeed;
}

bool compareByAverageSpeed(const Connection& a, const Connection& b) {
    return a.averageSpeed > b.averageSpeed;
}

bool compareByMaxTime(const Connection& a, const Connection& b) {
    return a.maxTime > b.maxTime;
}

bool compareUrlsBySize(const UrlEntry& a, const UrlEntry& b) {
    return a.size > b.size;
}

const std::array<ConnectionComparator, 4> sortComparators = {
    compareBySize,
    compareByCurrentSpeed,
    compareByAverageSpeed,
    compareByMaxTime,
};

void sortUrlsBySize(std::vector<UrlEntry>& urls) {
    if (std::is_sorted(urls.begin(), urls.end(), compareUrlsBySize)) {
        return;
    }
    // Moving a request is dearer than moving a size and an index.
    std::vector<std::pair<std::int64_t, std::size_t>> order(urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i) {
        order[i] = {urls[i].size, i};
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<UrlEntry> sorted;
    sorted.reserve(urls.size());
    for (const auto& item : order) {
        sorted.push_back(std::move(urls[item.second]));
    }
    urls.swap(sorted);
}

void sortConnections(ConnectionList& connections, SortOrder order) {
    // Negative values are as far outside the table as values above 3.
    if (order < 0 || static_cast<std::size_t>(order) >= sortComparators.size()) {
        return;
    }
    std::sort(connections.begin(), connections.end(), sortComparators[order]);
}

}  // namespace reqwatch
