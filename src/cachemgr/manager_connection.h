// The network layer: one IPv4 TCP connection to the proxy's HTTP port that
// sends one request and reads the reply line by line until the proxy closes.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

    void closeConnection() noexcept;

private:
    void waitFor(short events);
    void writeAll(const char* data, std::size_t length);
    bool fillBuffer();

    int socket_ = -1;
    sockaddr_in address_{};
    const CancelSignal* cancel_;
    std::vector<char> buffer_;
    std::size_t bufferBegin_ = 0;
    std::size_t bufferEnd_ = 0;
    bool endOfData_ = false;
};

}  // namespace reqwatch
