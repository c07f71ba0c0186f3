// A loopback HTTP origin server for downloads through a proxy. Every GET is
// answered with "200 OK" and a body of the size the request target asks for,
// made up on the fly: "/file?size=N" or "/N.bin" give N bytes, any other
// target the default size. Each connection has its own thread; a client that
// goes away only ends its own reply.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "support/stop_signal.h"

namespace testsupport {

inline constexpr std::int64_t defaultDownloadSize = std::int64_t{1} << 30;  // 1 GiB

// The body size a request target asks for, or defaultDownloadSize.
std::int64_t requestedDownloadSize(const std::string& target);

class OriginServer {
  public:
    // Listens on 127.0.0.1; port 0 picks a free one.
    explicit OriginServer(int port = 0);
    ~OriginServer();
    OriginServer(const OriginServer&) = delete;
    OriginServer& operator=(const OriginServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by the path.
    std::string url(const std::string& path) const;

  private:
    struct Handler {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void acceptLoop();
    void serve(int socket);
    // Waits for the socket; false when the server stops or the wait times out.
    bool waitFor(int socket, short events, int milliseconds) const;

    int port_ = 0;
    int listener_ = -1;
    StopSignal stop_;
    std::list<Handler> handlers_;  // used by the accepting thread only
    std::thread acceptor_;
};

}  // namespace testsupport
