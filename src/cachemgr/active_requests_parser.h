// Turns the lines of an active_requests page into one Connection per client
// address, each with one UrlEntry per request.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "cachemgr/fetch_settings.h"
#include "cachemgr/records.h"
#include "common/flat_text_index.h"

namespace reqwatch {

// The text before and after the last ":"; both empty without a ":".
std::pair<std::string, std::string> splitHostPort(const std::string& address);

// The previous sample's requests by id; the first one wins when an id repeats.
// Views into the list, which must not change while the index is used.
class PreviousEntries {
  public:
    explicit PreviousEntries(const ConnectionList& previous);
    const UrlEntry* find(std::string_view id) const;

  private:
    std::vector<const UrlEntry*> entries_;
    FlatTextIndex byId_;
};

// A copy of the previous request with this id, or a new entry.
UrlEntry findPreviousEntry(const PreviousEntries& previous, std::string_view id);

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
    UrlEntry* currentEntry();

    SampleState& state_;
    const FetchSettings& settings_;
    PreviousEntries previous_;
    UrlEntry pending_;
    std::int64_t previousEntrySize_ = 0;
    // The entry the per-request lines fill in, by position; -1 for none.
    std::ptrdiff_t currentConnection_ = -1;
    std::ptrdiff_t currentUrl_ = -1;
    std::size_t requests_ = 0;  // address lines so far
    const std::size_t requestLimit_;
    FlatTextIndex connectionByPeer_;  // positions in state_.current
    // The logins of each connection of `state_.current`, for the duplicate test.
    std::vector<std::unordered_set<std::string>> usersSeen_;
};

}  // namespace reqwatch
