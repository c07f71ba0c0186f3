// A loopback TCP relay that sits between a client and a server and keeps a
// copy of what went through: each connection accepted on 127.0.0.1 is
// forwarded to 127.0.0.1:targetPort, both ways, until both sides are done.
// Tests use it to see the very bytes a program received from a proxy.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/stop_signal.h"

namespace testsupport {

class RecordingRelay {
  public:
    // Listens on a free port of 127.0.0.1.
    explicit RecordingRelay(int targetPort);
    ~RecordingRelay();
    RecordingRelay(const RecordingRelay&) = delete;
    RecordingRelay& operator=(const RecordingRelay&) = delete;

    int port() const { return port_; }

    // What the server sent on each connection that ended cleanly (both
    // sides closed their half, everything passed on), in the order the
    // connections were accepted.
    std::vector<std::string> replies() const;
    std::size_t connectionCount() const;  // accepted so far
    std::size_t completedCount() const;   // of those, ended cleanly
    // Until every connection accepted so far has ended (cleanly or not);
    // false after the timeout. A client may be gone a moment before the
    // relay has seen its end.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;

  private:
    struct Exchange {
        std::string reply;
        bool complete = false;
        bool ended = false;
    };

    void acceptLoop();
    // Forwards until both sides are done; true when both ended cleanly.
    bool relay(int client, std::size_t index);

    int targetPort_;
    int port_ = 0;
    int listener_ = -1;
    StopSignal stop_;
    mutable std::mutex lock_;
    mutable std::condition_variable endedSignal_;
    std::vector<Exchange> exchanges_;
    std::vector<std::thread> handlers_;  // used by the accepting thread and the destructor
    std::thread acceptor_;
};

}  // namespace testsupport
