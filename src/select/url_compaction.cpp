#include "select/url_compaction.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "common/saturating.h"
#include "select/sort_orders.h"

namespace reqwatch {

namespace {

// Up to this many requests a client's list is searched as it is; beyond, a
// hash table finds the repeats.
constexpr std::size_t shortList = 32;

}  // namespace

void compactUrls(ConnectionList& connections) {
    std::vector<UrlEntry> merged;
    for (auto& connection : connections) {
        const std::size_t count = connection.urls.size();
        if (count < 2) {
            continue;  // nothing to merge; one entry is already in order
        }
        merged.clear();
        // No reallocation below: the keys are views into the merged entries.
        merged.reserve(count);
        std::unordered_map<std::string_view, std::size_t> position;
        if (count > shortList) {
            position.reserve(count);
        }
        const auto find = [&](const std::string& uri) -> UrlEntry* {
            if (count <= shortList) {
                for (auto& candidate : merged) {
                    if (candidate.uri == uri) {
                        return &candidate;
                    }
                }
                return nullptr;
            }
            const auto found = position.find(uri);
            return found == position.end() ? nullptr : &merged[found->second];
        };
        for (auto& entry : connection.urls) {
            UrlEntry* existing = find(entry.uri);
            if (existing == nullptr) {
                merged.push_back(std::move(entry));
                if (count > shortList) {
                    position.emplace(merged.back().uri, merged.size() - 1);
                }
                continue;
            }
            UrlEntry& sum = *existing;
            sum.count = sum.count < INT32_MAX ? sum.count + 1 : sum.count;
            sum.size = saturatingAdd(sum.size, entry.size);
            sum.elapsed = saturatingAdd(sum.elapsed, entry.elapsed);
            if (sum.size != 0 && sum.elapsed != 0) {
                sum.averageSpeed =
                    sum.elapsed == -1 && sum.size == INT64_MIN ? INT64_MAX : sum.size / sum.elapsed;
            }
        }
        // Equal sizes end in no defined order, as the sort is not stable.
        sortUrlsBySize(merged);
        connection.urls.swap(merged);
    }
}

}  // namespace reqwatch
