// A real Squid for a test, run in the foreground from a configuration in a
// temporary folder: loopback only, nothing cached, basic proxy
// authentication from a password file, a cache manager password, and one
// delay pool that throttles every download (but not the cache manager).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace testsupport {

struct ProxyUser {
    std::string login;
    std::string password;
};

struct SquidSettings {
    std::string managerPassword = "SECRET";
    // Logins are kept as written; one in capitals shows that the program
    // lower-cases what the proxy reports.
    std::vector<ProxyUser> users = {{"alice", "alice-pw"}, {"BOB", "bob-pw"}};
    std::int64_t bytesPerSecond = 200000;  // shared by all downloads together
    // Source addresses allowed to download, as a Squid "src" ACL value such
    // as "127.0.0.0/8"; empty allows localhost only. The cache manager always
    // answers localhost only.
    std::string clientNetwork;
    // Squid needs about two per download (client and origin connection).
    int maxFileDescriptors = 1024;
    std::chrono::seconds startTimeout{30};
};

class SquidProxy {
  public:
    // Starts Squid and waits until it accepts connections; throws
    // std::runtime_error with the end of its cache.log when it does not.
    explicit SquidProxy(SquidSettings settings = {});
    ~SquidProxy();
    SquidProxy(const SquidProxy&) = delete;
    SquidProxy& operator=(const SquidProxy&) = delete;

    int port() const { return port_; }
    const SquidSettings& settings() const { return settings_; }
    std::string proxyUrl() const;
    const std::string& folder() const { return folder_.path(); }
    // The last lines of Squid's cache.log.
    std::string cacheLogTail(std::size_t lines = 30) const;
    // Gives Squid time for a clean shutdown, then kills it. Idempotent.
    void stop();

  private:
    void writeFiles() const;
    // True once Squid accepts connections; false when it ended first.
    bool waitUntilAccepting();
    std::string startFailure(const std::string& reason) const;

    SquidSettings settings_;
    TemporaryFolder folder_;
    int port_ = 0;
    std::string serviceName_;
    ChildProcess process_;
};

// A port on 127.0.0.1 that nothing listened on a moment ago.
int freeLoopbackPort();

// Whether a TCP connection to 127.0.0.1:port is accepted.
bool acceptsConnections(int port);

}  // namespace testsupport
