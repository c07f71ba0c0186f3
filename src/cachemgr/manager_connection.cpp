#include "cachemgr/manager_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cachemgr/cancel_signal.h"
#include "cachemgr/exceptions.h"

namespace reqwatch {

namespace {

[[noreturn]] void throwSystemError(int error) {
    throw sqconnException(std::strerror(error));
}

// The first IPv4 address of a host name or dotted address.
in_addr resolveHost(const std::string& host) {
    std::vector<char> scratch(8192);
    hostent entry{};
    hostent* result = nullptr;
    int hostError = 0;
    for (;;) {
        const int status = gethostbyname_r(host.c_str(), &entry, scratch.data(), scratch.size(),
                                           &result, &hostError);
        if (status == ERANGE && scratch.size() < (1u << 22)) {
            scratch.resize(scratch.size() * 2);
            continue;
        }
        break;
    }
    if (result == nullptr || result->h_addr_list == nullptr || result->h_addr_list[0] == nullptr ||
        result->h_addrtype != AF_INET) {
        throw sqconnException(hstrerror(hostError != 0 ? hostError : HOST_NOT_FOUND));
    }
    in_addr address{};
    std::memcpy(&address, result->h_addr_list[0], sizeof address);
    return address;
}

}  // namespace

ManagerConnection::ManagerConnection(const CancelSignal* cancel) : cancel_(cancel) {}

ManagerConnection::~ManagerConnection() {
    closeConnection();
}

void ManagerConnection::openConnection(const std::string& host, std::int32_t port) {
    closeConnection();
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (socket_ < 0) {
        socket_ = -1;
        throwSystemError(errno);
    }
    std::memset(&address_, 0, sizeof address_);
    address_.sin_family = AF_INET;
    address_.sin_port = htons(static_cast<std::uint16_t>(port));
    try {
        address_.sin_addr = resolveHost(host);
        const int flags = ::fcntl(socket_, F_GETFL);
        if (flags < 0 || ::fcntl(socket_, F_SETFL, flags | O_NONBLOCK) < 0) {
            throwSystemError(errno);
        }
        if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) !=
            0) {
            if (errno != EINPROGRESS && errno != EINTR) {
                throwSystemError(errno);
            }
            waitFor(POLLOUT);
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                throwSystemError(errno);
            }
            if (error != 0) {
                throwSystemError(error);
            }
        }
    } catch (...) {
        ::close(socket_);
        socket_ = -1;
        throw;
    }
    reader_.reset();
}

void ManagerConnection::waitFor(short events) {
    pollfd descriptors[2] = {{socket_, events, 0}, {-1, POLLIN, 0}};
    if (cancel_ != nullptr) {
        descriptors[1].fd = cancel_->descriptor();
    }
    for (;;) {
        if (cancel_ != nullptr && cancel_->requested()) {
            throw FetchCancelled();
        }
        const int ready = ::poll(descriptors, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwSystemError(errno);
        }
        if (descriptors[1].revents != 0) {
            throw FetchCancelled();
        }
        if (descriptors[0].revents != 0) {
            return;  // ready, or an error that the next call reports
        }
    }
}

void ManagerConnection::writeAll(const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::send(socket_, data, length, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitFor(POLLOUT);
                continue;
            }
            throwSystemError(errno);
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

std::int32_t ManagerConnection::sendRequest(const std::string& request) {
    if (socket_ < 0) {
        throwSystemError(EBADF);
    }
    writeAll(request.data(), request.size());
    writeAll("\r\n", 2);
    return static_cast<std::int32_t>(request.size() + 2);
}

std::size_t ManagerConnection::readSome(char* buffer, std::size_t capacity) {
    if (socket_ < 0) {
        return 0;
    }
    for (;;) {
        const ssize_t received = ::read(socket_, buffer, capacity);
        if (received >= 0) {
            return static_cast<std::size_t>(received);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitFor(POLLIN);
            continue;
        }
        throwSystemError(errno);
    }
}

bool ManagerConnection::receiveLine(std::string& line) {
    std::string_view view;
    if (!receiveLine(view)) {
        line.clear();
        return false;
    }
    line.assign(view);
    return true;
}

bool ManagerConnection::receiveLine(std::string_view& line) {
    return reader_.next(
        line, [this](char* buffer, std::size_t capacity) { return readSome(buffer, capacity); });
}

void ManagerConnection::closeConnection() noexcept {
    if (socket_ >= 0) {
        ::shutdown(socket_, SHUT_RD);
        ::close(socket_);
        socket_ = -1;
    }
}

}  // namespace reqwatch
