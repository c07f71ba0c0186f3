// A loopback server that plays a proxy's cache manager: it records the bytes
// of each request and answers with canned replies, optionally slowly, cut
// off, reset, or never finished.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/stop_signal.h"

namespace testsupport {

struct FakeReply {
    std::string bytes;
    std::size_t chunkSize = 0;  // 0 sends everything in one go
    std::chrono::milliseconds chunkDelay{0};
    std::chrono::milliseconds firstByteDelay{0};  // before the reply's first byte
    std::size_t cutAfter = std::string::npos;     // send at most this many bytes
    bool reset = false;                           // end with a connection reset instead of a close
    bool hang = false;  // keep the connection open after sending, until stopped
    // Send the reply before reading the request, as a server of another
    // protocol greets its clients; close after the request.
    bool greetFirst = false;
};

class FakeCacheManager {
  public:
    // Listens on 127.0.0.1, or on ::1 with `ipv6`; port 0 picks a free one.
    explicit FakeCacheManager(int port = 0, bool ipv6 = false);
    ~FakeCacheManager();
    FakeCacheManager(const FakeCacheManager&) = delete;
    FakeCacheManager& operator=(const FakeCacheManager&) = delete;

    int port() const { return port_; }

    // Replies are used in turn, one per connection; the last one repeats.
    void setReplies(std::vector<FakeReply> replies);
    void setReply(FakeReply reply) { setReplies({std::move(reply)}); }
    // Or the reply is chosen by the request it answers.
    using Responder = std::function<FakeReply(const std::string& request)>;
    void setResponder(Responder responder);

    // The bytes received on each connection so far, in order of connection.
    std::vector<std::string> requests() const;
    std::size_t connectionCount() const;

    // Stops listening (new connections are refused) and later listens again
    // on the same port.
    void stopListening();
    void startListening();

  private:
    void acceptLoop();
    void serve(int socket, FakeReply reply, std::size_t index);

    int port_ = 0;
    bool ipv6_ = false;
    int listener_ = -1;
    StopSignal stop_;
    mutable std::mutex lock_;
    std::vector<FakeReply> replies_;
    Responder responder_;
    std::vector<std::string> requests_;
    std::vector<std::thread> handlers_;
    std::thread acceptor_;
};

// An HTTP reply with the given status line and page lines.
std::string cacheManagerReply(const std::string& page,
                              const std::string& statusLine = "HTTP/1.1 200 OK");

// Reads a file of the test fixtures folder.
std::string readFixture(const std::string& name);

}  // namespace testsupport
