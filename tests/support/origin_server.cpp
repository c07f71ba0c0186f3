#include "support/origin_server.h"

#include "support/loopback_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr std::size_t maximumRequestSize = 65536;
constexpr int requestTimeoutMilliseconds = 10000;
// A reader that takes nothing for this long is taken as gone.
constexpr int stalledClientMilliseconds = 120000;

// Digits only, without sign or overflow; -1 otherwise.
std::int64_t parseSize(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
        return -1;
    }
    return value;
}

bool sendAll(int socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

}  // namespace

std::int64_t requestedDownloadSize(const std::string& target) {
    std::string_view path = target;
    // A proxy may send the absolute form "http://host:port/path".
    if (const auto scheme = path.find("://"); scheme != std::string_view::npos) {
        const auto slash = path.find('/', scheme + 3);
        path = slash == std::string_view::npos ? std::string_view("/") : path.substr(slash);
    }
    std::int64_t size = -1;
    if (const auto query = path.find('?'); query != std::string_view::npos) {
        std::string_view parameters = path.substr(query + 1);
        while (!parameters.empty() && size < 0) {
            const auto end = parameters.find('&');
            const std::string_view parameter = parameters.substr(0, end);
            if (parameter.substr(0, 5) == "size=") {
                size = parseSize(parameter.substr(5));
            }
            parameters =
                end == std::string_view::npos ? std::string_view() : parameters.substr(end + 1);
        }
    } else if (path.size() > 5 && path.substr(path.size() - 4) == ".bin") {
        const auto name = path.rfind('/') + 1;
        size = parseSize(path.substr(name, path.size() - 4 - name));
    }
    return size < 0 ? defaultDownloadSize : size;
}

OriginServer::OriginServer(int port) {
    listener_ = listenOnLoopback(port, "origin server");
    port_ = localPort(listener_);
    acceptor_ = std::thread(&OriginServer::acceptLoop, this);
}

OriginServer::~OriginServer() {
    stop_.raise();
    acceptor_.join();
    for (auto& handler : handlers_) {
        handler.thread.join();
    }
    close(listener_);
}

std::string OriginServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool OriginServer::waitFor(int socket, short events, int milliseconds) const {
    pollfd descriptors[2] = {{socket, events, 0}, {stop_.descriptor(), POLLIN, 0}};
    int ready = 0;
    do {
        ready = poll(descriptors, 2, milliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && descriptors[1].revents == 0 && !stop_.raised();
}

void OriginServer::acceptLoop() {
    while (!stop_.raised()) {
        // Threads of finished connections are joined as we go.
        handlers_.remove_if([](Handler& handler) {
            if (!*handler.done) {
                return false;
            }
            handler.thread.join();
            return true;
        });
        if (!waitFor(listener_, POLLIN, 500)) {
            continue;
        }
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        handlers_.push_back({std::thread([this, client, done] {
                                 serve(client);
                                 close(client);
                                 *done = true;
                             }),
                             done});
    }
}

void OriginServer::serve(int socket) {
    std::string request;
    std::size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos) {
        if (request.size() > maximumRequestSize ||
            !waitFor(socket, POLLIN, requestTimeoutMilliseconds)) {
            return;
        }
        char buffer[4096];
        const ssize_t count = recv(socket, buffer, sizeof buffer, 0);
        if (count <= 0) {
            return;
        }
        request.append(buffer, static_cast<std::size_t>(count));
        headerEnd = std::min(request.find("\r\n\r\n"), request.find("\n\n"));
    }
    const std::string requestLine = request.substr(0, request.find_first_of("\r\n"));
    const auto methodEnd = requestLine.find(' ');
    const auto targetEnd = requestLine.find(' ', methodEnd + 1);
    if (methodEnd == std::string::npos || requestLine.substr(0, methodEnd) != "GET") {
        sendAll(socket,
                "HTTP/1.0 405 Method Not Allowed\r\nAllow: GET\r\nContent-Length: 0\r\n"
                "Connection: close\r\n\r\n");
        return;
    }
    const std::string target = requestLine.substr(methodEnd + 1, targetEnd - methodEnd - 1);
    std::int64_t left = requestedDownloadSize(target);
    const std::string header =
        "HTTP/1.0 200 OK\r\nServer: reqwatch-origin\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: " +
        std::to_string(left) + "\r\nConnection: close\r\n\r\n";
    if (!waitFor(socket, POLLOUT, stalledClientMilliseconds) || !sendAll(socket, header)) {
        return;
    }
    static const auto body = [] {
        std::array<char, 65536> bytes{};
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>('a' + i % 26);
        }
        return bytes;
    }();
    while (left > 0) {
        if (!waitFor(socket, POLLOUT, stalledClientMilliseconds)) {
            return;
        }
        const auto piece = static_cast<std::size_t>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(body.size())));
        // Non-blocking, so that a full socket buffer never holds up a stop.
        const ssize_t count = send(socket, body.data(), piece, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (count <= 0) {
            return;  // the client went away
        }
        left -= count;
    }
    // Closing with unread input would reset the connection and could cut off
    // the end of the body, so the client's side is read to its end first.
    shutdown(socket, SHUT_WR);
    char buffer[4096];
    while (waitFor(socket, POLLIN, 2000) && recv(socket, buffer, sizeof buffer, 0) > 0) {
    }
}

}  // namespace testsupport
