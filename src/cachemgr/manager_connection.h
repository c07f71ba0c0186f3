// The network layer: one IPv4 TCP connection to the proxy's HTTP port that
// sends one request and reads the reply line by line until the proxy closes.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cachemgr/line_reader.h"

namespace reqwatch {

class CancelSignal;

class ManagerConnection {
  public:
    // With a cancel signal, every wait (connecting, writing, reading) also
    // ends when the signal is raised, by throwing FetchCancelled.
    explicit ManagerConnection(const CancelSignal* cancel = nullptr);
    ~ManagerConnection();
    ManagerConnection(const ManagerConnection&) = delete;
    ManagerConnection& operator=(const ManagerConnection&) = delete;

    // Throws sqconnException with the system's text; leaves the connection
    // closed on failure.
    void openConnection(const std::string& host, std::int32_t port);

    // Writes the request and then "\r\n"; returns the bytes written.
    std::int32_t sendRequest(const std::string& request);

    // Reads the next line under the rules of takeLineBytes. Returns false at
    // the end of the data; a last line without a newline is not delivered.
    bool receiveLine(std::string& line);
    // The same, without copying the line when it need not be: the view stays
    // valid until the next call.
    bool receiveLine(std::string_view& line);

    void closeConnection() noexcept;

  private:
    void waitFor(short events);
    void writeAll(const char* data, std::size_t length);
    // Reads what the socket has, up to `capacity` bytes; 0 at the end.
    std::size_t readSome(char* buffer, std::size_t capacity);

    int socket_ = -1;
    sockaddr_in address_{};
    const CancelSignal* cancel_;
    LineReader reader_;
};

}  // namespace reqwatch
