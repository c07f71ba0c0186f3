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
    // Sorts sizes and positions, then moves each request once along the
    // cycles of that order: a request is dearer to move than a number.
    // Kept from call to call: a sample sorts thousands of short lists.
    thread_local std::vector<std::pair<std::int64_t, std::size_t>> order;
    order.resize(urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i) {
        order[i] = {urls[i].size, i};
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    // order[i].second is the request that belongs at i; a placed one is
    // marked with its own position.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start].second == start) {
            continue;
        }
        UrlEntry held = urls[start];
        std::size_t at = start;
        for (;;) {
            const std::size_t from = order[at].second;
            order[at].second = at;
            if (from == start) {
                urls[at] = held;
                break;
            }
            urls[at] = urls[from];
            at = from;
        }
    }
}

void sortConnections(ConnectionList& connections, SortOrder order) {
    // Negative values are as far outside the table as values above 3.
    if (order < 0 || static_cast<std::size_t>(order) >= sortComparators.size()) {
        return;
    }
    std::sort(connections.begin(), connections.end(), sortComparators[order]);
}

}  // namespace reqwatch
