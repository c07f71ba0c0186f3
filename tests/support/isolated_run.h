// Runs reqwatch against the fake cache manager inside a private network and
// mount namespace, with a hosts file of the test's own: reverse lookups then
// answer from that file, and no name-service query can leave the machine.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

namespace testsupport {

struct IsolatedRun {
    std::string hostsFile = "127.0.0.1 localhost\n";
    std::vector<std::string> replies;          // one reply per connection, the last repeats
    std::vector<std::string> serverArguments;  // more options of fake_cachemgr
    std::map<std::string, std::string> environment;
};

// Runs `reqwatch -h 127.0.0.1 -p PORT arguments...` where PORT is the fake
// cache manager's; the result is reqwatch's.
RunResult runIsolated(const IsolatedRun& run, const std::vector<std::string>& arguments);

// True when private namespaces can be made here (unshare and ip exist).
bool isolationAvailable();

}  // namespace testsupport
