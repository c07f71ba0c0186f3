#include "support/recording_relay.h"

#include "support/loopback_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// One direction of a relayed connection: bytes read from `from` wait in
// `pending` until `to` takes them.
struct Direction {
    Direction(int source, int destination) : from(source), to(destination) {}

    int from;
    int to;
    std::string pending;
    bool ended = false;  // `from` sent its end and everything went on
    bool sourceDone = false;

    short readEvents() const { return sourceDone || !pending.empty() ? 0 : POLLIN; }
    short writeEvents() const { return pending.empty() ? 0 : POLLOUT; }
};

}  // namespace

RecordingRelay::RecordingRelay(int targetPort) : targetPort_(targetPort) {
    listener_ = listenOnLoopback(0, "relay");
    port_ = localPort(listener_);
    acceptor_ = std::thread(&RecordingRelay::acceptLoop, this);
}

RecordingRelay::~RecordingRelay() {
    stop_.raise();
    acceptor_.join();
    for (auto& handler : handlers_) {
        handler.join();
    }
    close(listener_);
}

std::vector<std::string> RecordingRelay::replies() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> result;
    for (const auto& exchange : exchanges_) {
        if (exchange.complete) {
            result.push_back(exchange.reply);
        }
    }
    return result;
}

std::size_t RecordingRelay::connectionCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return exchanges_.size();
}

std::size_t RecordingRelay::completedCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t count = 0;
    for (const auto& exchange : exchanges_) {
        count += exchange.complete ? 1 : 0;
    }
    return count;
}

bool RecordingRelay::waitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(lock_);
    return endedSignal_.wait_for(guard, timeout, [this] {
        return std::all_of(exchanges_.begin(), exchanges_.end(),
                           [](const Exchange& exchange) { return exchange.ended; });
    });
}

void RecordingRelay::acceptLoop() {
    while (!stop_.raised()) {
        pollfd descriptors[2] = {{listener_, POLLIN, 0}, {stop_.descriptor(), POLLIN, 0}};
        if (poll(descriptors, 2, -1) <= 0 || descriptors[1].revents != 0) {
            continue;
        }
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            continue;
        }
        std::size_t index;
        {
            std::lock_guard<std::mutex> guard(lock_);
            index = exchanges_.size();
            exchanges_.emplace_back();
        }
        handlers_.emplace_back([this, client, index] {
            const bool complete = relay(client, index);
            close(client);
            std::lock_guard<std::mutex> guard(lock_);
            exchanges_[index].complete = complete;
            exchanges_[index].ended = true;
            endedSignal_.notify_all();
        });
    }
}

bool RecordingRelay::relay(int client, std::size_t index) {
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(targetPort_);
    if (server < 0 ||
        connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (server >= 0) {
            close(server);
        }
        return false;  // the client sees its connection closed
    }
    fcntl(server, F_SETFL, fcntl(server, F_GETFL) | O_NONBLOCK);
    Direction up(client, server);
    Direction down(server, client);
    bool failed = false;
    while (!failed && !(up.ended && down.ended) && !stop_.raised()) {
        pollfd descriptors[3] = {
            {client, static_cast<short>(up.readEvents() | down.writeEvents()), 0},
            {server, static_cast<short>(down.readEvents() | up.writeEvents()), 0},
            {stop_.descriptor(), POLLIN, 0}};
        if (poll(descriptors, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (descriptors[2].revents != 0 ||
            ((descriptors[0].revents | descriptors[1].revents) & POLLERR) != 0) {
            break;
        }
        for (Direction* direction : {&up, &down}) {
            if (direction->readEvents() != 0) {
                char buffer[65536];
                const ssize_t count = recv(direction->from, buffer, sizeof buffer, 0);
                if (count > 0) {
                    direction->pending.append(buffer, static_cast<std::size_t>(count));
                    if (direction == &down) {
                        std::lock_guard<std::mutex> guard(lock_);
                        exchanges_[index].reply.append(buffer, static_cast<std::size_t>(count));
                    }
                } else if (count == 0) {
                    direction->sourceDone = true;
                } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    failed = true;
                }
            }
            if (!direction->pending.empty()) {
                const ssize_t count = send(direction->to, direction->pending.data(),
                                           direction->pending.size(), MSG_NOSIGNAL);
                if (count > 0) {
                    direction->pending.erase(0, static_cast<std::size_t>(count));
                } else if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    failed = true;
                }
            }
            if (direction->sourceDone && direction->pending.empty() && !direction->ended) {
                shutdown(direction->to, SHUT_WR);
                direction->ended = true;
            }
        }
    }
    close(server);
    return up.ended && down.ended;
}

}  // namespace testsupport
