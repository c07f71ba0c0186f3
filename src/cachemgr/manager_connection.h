// The network layer: one TCP connection to the proxy's HTTP port that sends
// one request and reads the reply line by line until the proxy closes.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cachemgr/line_reader.h"

namespace reqwatch {

class CancelSignal;

// A host as the user writes it, for connecting: an IPv6 literal may come in
// brackets ("[::1]"), which the name service does not take.
std::string bareHost(const std::string& host);

// "host:port", with an IPv6 literal in brackets.
std::string endpointText(const std::string& host, std::int32_t port);

class ManagerConnection {
  public:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    // With a cancel signal, every wait (connecting, writing, reading) also
    // ends when the signal is raised, by throwing FetchCancelled; past the
    // deadline, by throwing FetchTimedOut.
    explicit ManagerConnection(const CancelSignal* cancel = nullptr, Deadline deadline = {});
    ~ManagerConnection();
    ManagerConnection(const ManagerConnection&) = delete;
    ManagerConnection& operator=(const ManagerConnection&) = delete;

    // Resolves the host and tries each of its addresses in turn. Throws
    // sqconnException with the system's text; leaves the connection closed
    // on failure.
    void openConnection(const std::string& host, std::int32_t port);

    // Writes the request and then "\r\n"; returns the bytes written.
    std::int32_t sendRequest(const std::string& request);

    // Reads the next line under the rules of takeLineBytes. Returns false at
    // the end of the data; a last line without a newline is not delivered.
    bool receiveLine(std::string& line);
    // The same, without copying the line when it need not be: the view stays
    // valid until the next call.
    bool receiveLine(std::string_view& line);

    // Reads and drops the rest of the reply, up to `limit` bytes and for at
    // most `patience`, so that the connection ends cleanly rather than with
    // unread data.
    void discardRest(std::size_t limit, std::chrono::milliseconds patience);

    void closeConnection() noexcept;

  private:
    // Connects the socket to one address; throws sqconnException.
    void connectTo(const sockaddr* address, socklen_t length);
    void waitFor(short events);
    void writeAll(const char* data, std::size_t length);
    // Reads what the socket has, up to `capacity` bytes; 0 at the end.
    std::size_t readSome(char* buffer, std::size_t capacity);

    int socket_ = -1;
    const CancelSignal* cancel_;
    Deadline deadline_;
    LineReader reader_;
};

}  // namespace reqwatch
