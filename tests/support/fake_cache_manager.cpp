#include "support/fake_cache_manager.h"

#include "support/loopback_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

FakeCacheManager::FakeCacheManager(int port, bool ipv6) : ipv6_(ipv6) {
    listener_ = ipv6 ? listenOnLoopback6(port, "fake cache manager")
                     : listenOnLoopback(port, "fake cache manager");
    port_ = localPort(listener_);
    acceptor_ = std::thread(&FakeCacheManager::acceptLoop, this);
}

FakeCacheManager::~FakeCacheManager() {
    stop_.raise();
    acceptor_.join();
    std::vector<std::thread> handlers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        handlers.swap(handlers_);
    }
    for (auto& handler : handlers) {
        handler.join();
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (listener_ >= 0) {
        close(listener_);
    }
}

void FakeCacheManager::setReplies(std::vector<FakeReply> replies) {
    std::lock_guard<std::mutex> guard(lock_);
    replies_ = std::move(replies);
    responder_ = nullptr;
}

void FakeCacheManager::setResponder(Responder responder) {
    std::lock_guard<std::mutex> guard(lock_);
    responder_ = std::move(responder);
}

std::vector<std::string> FakeCacheManager::requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

std::size_t FakeCacheManager::connectionCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_.size();
}

void FakeCacheManager::stopListening() {
    std::lock_guard<std::mutex> guard(lock_);
    if (listener_ >= 0) {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        listener_ = -1;
    }
}

void FakeCacheManager::startListening() {
    std::lock_guard<std::mutex> guard(lock_);
    if (listener_ < 0) {
        listener_ = ipv6_ ? listenOnLoopback6(port_, "fake cache manager")
                          : listenOnLoopback(port_, "fake cache manager");
    }
}

void FakeCacheManager::acceptLoop() {
    while (!stop_.raised()) {
        int listener;
        {
            std::lock_guard<std::mutex> guard(lock_);
            listener = listener_;
        }
        pollfd descriptors[2] = {{listener, POLLIN, 0}, {stop_.descriptor(), POLLIN, 0}};
        // A short timeout notices a listener replaced by stopListening.
        if (poll(descriptors, 2, 20) <= 0 || descriptors[1].revents != 0 || listener < 0) {
            continue;
        }
        std::lock_guard<std::mutex> guard(lock_);
        if (listener_ != listener) {
            continue;
        }
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const std::size_t index = requests_.size();
        requests_.emplace_back();
        FakeReply reply;
        if (!replies_.empty()) {
            reply = replies_[index < replies_.size() ? index : replies_.size() - 1];
        }
        handlers_.emplace_back(&FakeCacheManager::serve, this, client, reply, index);
    }
}

void FakeCacheManager::serve(int socket, FakeReply reply, std::size_t index) {
    const auto wait = [this, socket](short events, int milliseconds) {
        pollfd descriptors[2] = {{socket, events, 0}, {stop_.descriptor(), POLLIN, 0}};
        const int ready = poll(descriptors, 2, milliseconds);
        return ready > 0 && descriptors[1].revents == 0 && !stop_.raised();
    };
    const auto pause = [this](int milliseconds) {
        pollfd wake = {stop_.descriptor(), POLLIN, 0};
        poll(&wake, 1, milliseconds);
    };
    // The request ends with "\r\n"; the first lines end in a bare line feed.
    std::string received;
    const auto readRequest = [&] {
        while (!stop_.raised()) {
            if (received.size() >= 2 && received.compare(received.size() - 2, 2, "\r\n") == 0) {
                break;
            }
            if (!wait(POLLIN, 2000)) {
                break;
            }
            char buffer[4096];
            const ssize_t count = recv(socket, buffer, sizeof buffer, 0);
            if (count <= 0) {
                break;
            }
            received.append(buffer, static_cast<size_t>(count));
            std::lock_guard<std::mutex> guard(lock_);
            requests_[index] = received;
        }
    };
    const auto sendReply = [&] {
        if (reply.firstByteDelay.count() > 0) {
            pause(static_cast<int>(reply.firstByteDelay.count()));
        }
        const std::size_t total = std::min(reply.bytes.size(), reply.cutAfter);
        std::size_t sent = 0;
        while (sent < total && !stop_.raised()) {
            std::size_t piece = reply.chunkSize == 0 ? total - sent : reply.chunkSize;
            piece = std::min(piece, total - sent);
            if (!wait(POLLOUT, 5000)) {
                break;
            }
            const ssize_t count = send(socket, reply.bytes.data() + sent, piece, MSG_NOSIGNAL);
            if (count <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(count);
            if (reply.chunkDelay.count() > 0 && sent < total) {
                pause(static_cast<int>(reply.chunkDelay.count()));
            }
        }
    };
    if (reply.greetFirst) {
        sendReply();
        readRequest();
    } else {
        readRequest();
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (responder_) {
                reply = responder_(received);
            }
        }
        sendReply();
    }
    if (reply.hang) {
        while (!stop_.raised()) {
            pause(50);
        }
    }
    if (reply.reset) {
        linger option{1, 0};
        setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    close(socket);
}

std::string cacheManagerReply(const std::string& page, const std::string& statusLine) {
    return statusLine +
           "\r\nServer: squid/5.7\r\nMime-Version: 1.0\r\nContent-Type: text/plain\r\n"
           "Connection: close\r\n\r\n" +
           page;
}

std::string readFixture(const std::string& name) {
    std::ifstream file(std::string(REQWATCH_FIXTURES) + "/" + name, std::ios::binary);
    if (!file) {
        throw std::runtime_error("missing fixture " + name);
    }
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace testsupport
