// The one entry into the statistics: ask the proxy's cache manager for its
// active_requests page and turn it into a completed sample.
#pragma once

#include <string>

#include "app/options.h"
#include "cachemgr/exceptions.h"
#include "cachemgr/fetch_settings.h"
#include "cachemgr/records.h"

namespace reqwatch {

class CancelSignal;

// Rewrites `state` and returns the new sample, moved out of `state.current`;
// `state.previous` keeps its reference copy for the next fetch. Every failure
// is a sqstatException whose message is meant for the user. With a cancel
// signal, a raised signal ends any wait of the fetch with FetchCancelled.
ConnectionList fetchActiveRequests(SampleState& state, const FetchSettings& settings,
                                   const CancelSignal* cancel = nullptr);
ConnectionList fetchActiveRequests(SampleState& state, Options& options);

// The request for the page, before its closing CR LF: the legacy
// cache_object URL, or the modern /squid-internal-mgr/ path.
std::string activeRequestsRequest(bool modern, const std::string& pass);

// Throws the "format changed" sqstatException for a page line.
[[noreturn]] void reportFormatChanged(const std::string& server, const std::string& line);

}  // namespace reqwatch
