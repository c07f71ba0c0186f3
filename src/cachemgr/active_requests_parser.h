// Turns the lines of an active_requests page into one Connection per client
// address, each with one UrlEntry per request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cachemgr/fetch_settings.h"
#include "cachemgr/records.h"
#include "common/flat_text_index.h"
#include "common/text_arena.h"

namespace reqwatch {

// The text before and after the last ":"; both empty without a ":".
std::pair<std::string, std::string> splitHostPort(const std::string& address);

// The previous sample's requests by worker and id; the first one wins when
// a pair repeats. Views into the list, which must not change while the index
// is used.
class PreviousEntries {
  public:
    explicit PreviousEntries(const ConnectionList& previous);
    const UrlEntry* find(std::string_view id, std::int32_t worker = 0) const;
    // The size of that request, or 0 when there is none.
    std::int64_t sizeOf(std::string_view id, std::int32_t worker) const;

  private:
    static std::uint64_t hashOf(std::string_view id, std::int32_t worker);
    std::int64_t findItem(std::string_view id, std::int32_t worker, std::uint64_t hash) const;

    // What a lookup reads, side by side, so that it costs few cache misses.
    struct Item {
        std::string_view id;
        std::int64_t size;
        std::int32_t worker;
        const UrlEntry* entry;
    };
    const Item* itemOf(std::string_view id, std::int32_t worker) const;
    std::vector<Item> items_;
    FlatTextIndex byId_;
};

// A copy of the previous request with this id in this worker, or a new entry.
UrlEntry findPreviousEntry(const PreviousEntries& previous, std::string_view id,
                           std::int32_t worker = 0);

// The resolver's answer for an address while lookups are on, else the address.
std::string resolveClientName(const FetchSettings& settings, const std::string& address);

class ActiveRequestsParser {
  public:
    // More requests than any proxy serves at once: a page that goes on
    // beyond it is refused rather than allowed to exhaust memory.
    static constexpr std::size_t maxRequests = 1000000;

    // Fills `state.current` (expected empty) and `state.server`.
    ActiveRequestsParser(SampleState& state, const FetchSettings& settings,
                         std::size_t requestLimit = maxRequests);

    // One line of the reply after the status line, control characters already
    // removed. Throws sqstatException when a recognised line has the wrong
    // number of words.
    void parseLine(std::string_view line);

  private:
    void requestLine(std::string_view id);
    void addressLine(std::string_view address);
    void userLine(std::string_view login);
    void workerLine(std::string_view line);
    UrlEntry* currentEntry();

    SampleState& state_;
    const FetchSettings& settings_;
    std::shared_ptr<TextArena> texts_;  // shared by every connection of the sample
    PreviousEntries previous_;
    UrlEntry pending_;
    std::int64_t previousEntrySize_ = 0;
    std::int32_t worker_ = 0;  // of the "by kidN {" section being read
    // The connection whose last request the per-request lines fill in, by
    // position; -1 before the first address line.
    std::ptrdiff_t currentConnection_ = -1;
    std::size_t requests_ = 0;
    const std::size_t requestLimit_;
    std::vector<std::string_view> peers_;  // of state_.current, in one compact list
    FlatTextIndex connectionByPeer_;       // positions in state_.current
    // The logins of each connection of `state_.current`, for the duplicate
    // test: a few are compared one by one, many are hashed.
    struct UsersSeen {
        std::vector<std::string_view> few;
        std::unique_ptr<std::unordered_set<std::string_view>> many;
    };
    std::vector<UsersSeen> usersSeen_;
};

}  // namespace reqwatch
