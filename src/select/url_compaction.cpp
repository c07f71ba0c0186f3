#include "select/url_compaction.h"

#include <algorithm>
#include <map>

#include "common/saturating.h"
#include "select/sort_orders.h"

namespace reqwatch {

void compactUrls(ConnectionList& connections) {
    std::map<std::string, UrlEntry> merged;
    for (auto& connection : connections) {
        if (connection.urls.size() < 2) {
            continue;  // nothing to merge; one entry is already in order
        }
        merged.clear();
        for (auto& entry : connection.urls) {
            const auto found = merged.find(entry.uri);
            if (found == merged.end()) {
                std::string key = entry.uri;
                merged.emplace(std::move(key), std::move(entry));
                continue;
            }
            UrlEntry& sum = found->second;
            sum.count = sum.count < INT32_MAX ? sum.count + 1 : sum.count;
            sum.size = saturatingAdd(sum.size, entry.size);
            sum.elapsed = saturatingAdd(sum.elapsed, entry.elapsed);
            if (sum.size != 0 && sum.elapsed != 0) {
                sum.averageSpeed = sum.elapsed == -1 && sum.size == INT64_MIN
                                       ? INT64_MAX
                                       : sum.size / sum.elapsed;
            }
        }
        connection.urls.clear();
        connection.urls.reserve(merged.size());
        for (auto& item : merged) {
            connection.urls.push_back(std::move(item.second));
        }
        std::sort(connection.urls.begin(), connection.urls.end(), compareUrlsBySize);
    }
}

}  // namespace reqwatch
