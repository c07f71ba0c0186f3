#include "select/url_compaction.h"

#include <string_view>
#include <vector>

#include "common/flat_text_index.h"
#include "common/saturating.h"
#include "select/sort_orders.h"

namespace reqwatch {

namespace {

// An open-addressing table from URL to merged entry, reused from one
// connection to the next: cleared, never freed, between them.
class MergeTable {
  public:
    void prepare(std::size_t entries) {
        std::size_t capacity = 16;
        while (capacity < entries * 2) {
            capacity *= 2;
        }
        if (slots_.size() < capacity) {
            slots_.resize(capacity);
        }
        mask_ = capacity - 1;
        for (std::size_t at = 0; at <= mask_; ++at) {
            slots_[at].position = 0;
        }
    }

    // The merged entry for the URL, or where to put one: `position` 0 when
    // there is none yet.
    struct Slot {
        std::uint64_t hash = 0;
        std::size_t position = 0;  // one more than the index into the merged list
    };
    Slot& find(std::string_view uri, std::uint64_t hash, const std::vector<UrlEntry>& merged) {
        for (std::size_t at = hash & mask_;; at = (at + 1) & mask_) {
            Slot& slot = slots_[at];
            if (slot.position == 0 || (slot.hash == hash && merged[slot.position - 1].uri == uri)) {
                return slot;
            }
        }
    }

  private:
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

}  // namespace

void compactUrls(ConnectionList& connections) {
    std::vector<UrlEntry> merged;
    MergeTable table;
    for (auto& connection : connections) {
        const std::size_t count = connection.urls.size();
        if (count < 2) {
            continue;  // nothing to merge; one entry is already in order
        }
        merged.clear();
        merged.reserve(count);
        table.prepare(count);
        const std::vector<UrlEntry>& urls = connection.urls;
        // The URL texts lie scattered over the sample's memory: ask for a
        // few ahead, so that their fetches overlap.
        constexpr std::size_t ahead = 8;
        for (std::size_t i = 0; i < count && i < ahead; ++i) {
            __builtin_prefetch(urls[i].uri.data());
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (i + ahead < count) {
                __builtin_prefetch(urls[i + ahead].uri.data());
            }
            const UrlEntry& entry = urls[i];
            const std::uint64_t hash = FlatTextIndex::hashOf(entry.uri);
            auto& slot = table.find(entry.uri, hash, merged);
            if (slot.position == 0) {
                merged.push_back(entry);
                slot = {hash, merged.size()};
                continue;
            }
            UrlEntry& sum = merged[slot.position - 1];
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
