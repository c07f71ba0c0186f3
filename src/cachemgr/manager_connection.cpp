#include "cachemgr/manager_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "cachemgr/cancel_signal.h"
#include "cachemgr/exceptions.h"

namespace reqwatch {

namespace {

[[noreturn]] void throwSystemError(int error) {
    throw sqconnException(std::strerror(error));
}

// The text of a failed lookup, in the words the name service has used for
// a host it does not know.
[[noreturn]] void throwLookupError(int status) {
    switch (status) {
        case EAI_NONAME:
#if defined(EAI_NODATA) && EAI_NODATA != EAI_NONAME
        case EAI_NODATA:
#endif
#if defined(EAI_ADDRFAMILY)
        case EAI_ADDRFAMILY:
#endif
            throw sqconnException(hstrerror(HOST_NOT_FOUND));
        case EAI_AGAIN:
            throw sqconnException(hstrerror(TRY_AGAIN));
        case EAI_FAIL:
            throw sqconnException(hstrerror(NO_RECOVERY));
        case EAI_SYSTEM:
            throwSystemError(errno);
        default:
            throw sqconnException(gai_strerror(status));
    }
}

struct AddressList {
    addrinfo* first = nullptr;
    ~AddressList() {
        if (first != nullptr) {
            freeaddrinfo(first);
        }
    }
};

}  // namespace

std::string bareHost(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        return host.substr(1, host.size() - 2);
    }
    return host;
}

std::string endpointText(const std::string& host, std::int32_t port) {
    // find(':') succeeds only on a text that is not empty.
    const bool literal6 = host.find(':') != std::string::npos && host.front() != '[';
    return (literal6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

ManagerConnection::ManagerConnection(const CancelSignal* cancel, Deadline deadline)
    : cancel_(cancel), deadline_(deadline) {}

ManagerConnection::~ManagerConnection() {
    closeConnection();
}

void ManagerConnection::openConnection(const std::string& host, std::int32_t port) {
    closeConnection();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    AddressList addresses;
    const std::string service = std::to_string(static_cast<std::uint16_t>(port));
    const int status =
        getaddrinfo(bareHost(host).c_str(), service.c_str(), &hints, &addresses.first);
    if (status != 0) {
        throwLookupError(status);
    }
    if (addresses.first == nullptr) {
        throw sqconnException(hstrerror(HOST_NOT_FOUND));
    }
    // Each address in turn; the failure of the last one is the one told.
    for (const addrinfo* address = addresses.first;; address = address->ai_next) {
        try {
            connectTo(address->ai_addr, address->ai_addrlen);
            reader_.reset();
            return;
        } catch (const sqconnException&) {
            if (address->ai_next == nullptr) {
                throw;
            }
        }
    }
}

void ManagerConnection::connectTo(const sockaddr* address, socklen_t length) {
    socket_ = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (socket_ < 0) {
        socket_ = -1;
        throwSystemError(errno);
    }
    try {
        const int flags = ::fcntl(socket_, F_GETFL);
        if (flags < 0 || ::fcntl(socket_, F_SETFL, flags | O_NONBLOCK) < 0) {
            throwSystemError(errno);
        }
        if (::connect(socket_, address, length) != 0) {
            if (errno != EINPROGRESS && errno != EINTR) {
                throwSystemError(errno);
            }
            waitFor(POLLOUT);
            int error = 0;
            socklen_t errorLength = sizeof error;
            if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0) {
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
        int timeout = -1;
        if (deadline_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                throw FetchTimedOut();
            }
            timeout = static_cast<int>(std::min<std::int64_t>(left.count(), INT32_MAX));
        }
        const int ready = ::poll(descriptors, 2, timeout);
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

void ManagerConnection::discardRest(std::size_t limit, std::chrono::milliseconds patience) {
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    const Deadline kept = deadline_;
    if (!deadline_ || giveUp < *deadline_) {
        deadline_ = giveUp;
    }
    char scratch[16 * 1024];
    std::size_t read = 0;
    try {
        while (read < limit) {
            const std::size_t count = readSome(scratch, sizeof scratch);
            if (count == 0) {
                break;
            }
            read += count;
        }
    } catch (const FetchTimedOut&) {
        // A proxy that does not end its reply in time is simply left.
    } catch (const sqconnException&) {
        // Nor does a failure matter: the reply is of no use anyway.
    }
    deadline_ = kept;
}

void ManagerConnection::closeConnection() noexcept {
    if (socket_ >= 0) {
        ::shutdown(socket_, SHUT_RD);
        ::close(socket_);
        socket_ = -1;
    }
}

}  // namespace reqwatch
