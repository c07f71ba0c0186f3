// An active_requests page counted as an administrator reads it, with logic
// of its own (not the program's parser), so that a test can hold what the
// program reports against the very page it was served.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// A request is a block of lines, ended by a blank one, that names its client
// in a "remote:" line (or "peer:", as older Squids write it); the client is
// the address before the port.
struct PageRequest {
    std::string client;
    std::string uri;
    std::int64_t bytes = 0;  // out.size
};

struct PageCount {
    std::size_t requests = 0;
    std::set<std::string> clients;
    std::set<std::string> logins;                    // "-" (none) left out
    std::map<std::string, std::int64_t> bytesByUri;  // out.size of each URI's last block
    // Every request in the order of the page, in a section or not.
    std::vector<PageRequest> everyRequest;
    // An SMP Squid's page has a section per worker, from a line "by kidN {"
    // to a line "} by kidN": the requests of each, by the worker's name
    // ("kid1"). Empty for a page without sections.
    std::map<std::string, std::vector<PageRequest>> sections;
    // Every section was closed by the line of its own name, none opened
    // inside another, and no request lay outside them.
    bool sectionsWellFormed = true;
};

PageCount countPage(const std::string& page);

// The page of a whole HTTP reply: what follows the header.
std::string bodyOf(const std::string& reply);

// The lines of a text, without their line ends.
std::vector<std::string> lines(const std::string& text);

}  // namespace testsupport
