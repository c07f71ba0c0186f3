// Serves a generated active_requests reply on loopback, to every connection,
// as a busy proxy's cache manager would: for whole-program measurements.
//
//   page_server --requests N [--clients C] [--port P] [--seed S] [--changing]
//
// It prints the port it listens on. With --changing every reply is the next
// sample of the same proxy (sizes grown, some requests ended, new ones). It
// reads the request up to its closing CR LF, writes the reply and closes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "page_generator.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

void readRequest(int client) {
    std::string received;
    char buffer[4096];
    while (received.size() < 65536) {
        pollfd descriptor{client, POLLIN, 0};
        if (poll(&descriptor, 1, 2000) <= 0) {
            return;
        }
        const ssize_t count = recv(client, buffer, sizeof buffer, 0);
        if (count <= 0) {
            return;
        }
        received.append(buffer, static_cast<std::size_t>(count));
        // reqwatch ends its request with CR LF; an HTTP client with an empty line.
        if (received.size() >= 2 && received.compare(received.size() - 2, 2, "\r\n") == 0 &&
            (received.find("HTTP/1.1\r\n") == std::string::npos ||
             received.find("\r\n\r\n") != std::string::npos)) {
            return;
        }
    }
}

void sendAll(int client, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(count);
    }
}

}  // namespace

int main(int argc, char** argv) {
    reqwatch::pagegen::PageShape shape;
    shape.requests = 100000;
    shape.clients = 0;
    shape.managerRequest = true;
    int port = 0;
    bool changing = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--requests" && hasValue) {
            shape.requests = std::strtoul(argv[++i], nullptr, 10);
        } else if (argument == "--clients" && hasValue) {
            shape.clients = std::strtoul(argv[++i], nullptr, 10);
        } else if (argument == "--port" && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (argument == "--seed" && hasValue) {
            shape.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (argument == "--changing") {
            changing = true;
        } else {
            std::cerr << "usage: page_server --requests N [--clients C] [--port P] [--seed S]"
                         " [--changing]\n";
            return 2;
        }
    }
    if (shape.clients == 0) {
        shape.clients = shape.requests / 20 > 0 ? shape.requests / 20 : 1;
    }
    reqwatch::pagegen::PageGenerator generator(shape);
    std::string reply = generator.reply();

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        std::cerr << "page_server: cannot listen: " << std::strerror(errno) << "\n";
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::cout << ntohs(address.sin_port) << std::endl;

    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    while (stopRequested == 0) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        readRequest(client);
        sendAll(client, reply);
        shutdown(client, SHUT_WR);
        close(client);
        if (changing) {
            generator.advance(2);
            reply = generator.reply();
        }
    }
    close(listener);
    return 0;
}
