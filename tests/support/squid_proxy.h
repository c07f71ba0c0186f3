// A real Squid for a test, run in the foreground from a configuration in a
// temporary folder: loopback only, nothing cached, basic proxy
// authentication from a password file, a cache manager password, and one
// delay pool that throttles every download (but not the cache manager).
// With more than one worker it runs in SMP mode: a master process, a
// coordinator and the workers, which share the proxy's port and each also
// listen on a port of their own.
#pragma once

#include <sys/types.h>

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
    // Squid's "workers". One runs Squid as a single process (-N); more run
    // it in SMP mode (--foreground), where every worker has its own delay
    // pool of bytesPerSecond.
    int workers = 1;
};

class SquidProxy {
  public:
    // Starts Squid and waits until it accepts connections; throws
    // std::runtime_error with the end of its cache.log when it does not.
    explicit SquidProxy(SquidSettings settings = {});
    ~SquidProxy();
    SquidProxy(const SquidProxy&) = delete;
    SquidProxy& operator=(const SquidProxy&) = delete;

    // The port every worker listens on.
    int port() const { return port_; }
    // In SMP mode, the port only worker N (1 to workers, "kidN" on the
    // cache manager's pages) listens on.
    int workerPort(int worker) const;
    const SquidSettings& settings() const { return settings_; }
    // "http://127.0.0.1:PORT" for port() or another port of the proxy.
    std::string proxyUrl() const { return proxyUrl(port_); }
    static std::string proxyUrl(int port);
    const std::string& folder() const { return folder_.path(); }
    // The last lines of Squid's cache.log.
    std::string cacheLogTail(std::size_t lines = 30) const;
    // The process id of Squid (in SMP mode, of its master); -1 once stopped.
    pid_t pid() const { return process_.pid(); }
    // Gives Squid time for a clean shutdown, then kills it; in SMP mode also
    // every process the master started, even when the master is gone
    // already. Removes the shared memory segments and IPC sockets Squid
    // leaves behind. Idempotent.
    void stop();
    // What is left of this proxy on the machine: its running processes,
    // shared memory segments and IPC sockets, one per line; empty after a
    // stop() that cleaned up.
    std::string leftovers() const;

  private:
    bool smp() const { return settings_.workers > 1; }
    // Starts Squid on new ports until it runs, a few times at most.
    void start(const std::string& squid);
    void pickPorts();
    void writeFiles() const;
    // True once Squid (every worker) accepts connections on all of its
    // ports; false when it ended first.
    bool waitUntilAccepting();
    bool accepting(const std::string& cacheLog) const;
    std::string startFailure(const std::string& reason) const;

    SquidSettings settings_;
    TemporaryFolder folder_;
    int port_ = 0;
    std::vector<int> workerPorts_;  // SMP mode only
    std::string serviceName_;
    ChildProcess process_;
};

// A port on 127.0.0.1 that nothing listened on a moment ago.
int freeLoopbackPort();

// Whether a TCP connection to 127.0.0.1:port is accepted.
bool acceptsConnections(int port);

}  // namespace testsupport
