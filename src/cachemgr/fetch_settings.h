// The settings one fetch works on: a copy taken when the fetch starts, so that
// the keyboard may change the live options meanwhile.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"
#include "app/proxy_list.h"
#include "cachemgr/records.h"

namespace reqwatch {

struct FetchSettings {
    std::string host;
    std::int32_t port = 3128;
    std::string pass;
    bool hostnameLookups = true;
    HostResolver* resolver = nullptr;  // asked for client names when lookups are on
    // Whether a later fetch will follow and needs this sample as its
    // reference; a single report does without.
    bool keepReference = true;
    // The longest a whole fetch may take; 0 for no limit.
    std::int64_t timeoutMilliseconds = 0;
    // Tells when a status line is accepted; tests give clocks of their own.
    SampleInstant (*clock)() = &SampleInstant::now;

    // For the proxy at `address` (one of the options' list).
    static FetchSettings from(Options& options, const ProxyAddress& address) {
        return {address.host,      address.port, options.pass, options.hostnameLookups,
                &options.resolver, true};
    }
    // For the first proxy of the options, the only one of most runs.
    static FetchSettings from(Options& options) {
        return from(options, proxiesOf(options).front());
    }
};

}  // namespace reqwatch
