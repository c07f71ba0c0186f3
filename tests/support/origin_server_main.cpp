// The origin server as a program for scripts:
//   origin_server [--port N]
// listens on 127.0.0.1:N (0, the default, picks a free port), prints the port
// on a line of its own and serves until SIGTERM, SIGINT or SIGHUP.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "support/origin_server.h"

int main(int argc, char** argv) {
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--port" && i + 1 < argc) {
            try {
                port = std::stoi(argv[++i]);
            } catch (const std::exception&) {
                port = -1;
            }
            if (port < 0 || port > 65535) {
                std::fprintf(stderr, "origin_server: bad port %s\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr, "usage: %s [--port N]\n", argv[0]);
            return 2;
        }
    }
    // Blocked before any thread starts, so that only sigwait takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        testsupport::OriginServer server(port);
        std::printf("%d\n", server.port());
        std::fflush(stdout);
        int received = 0;
        sigwait(&stopSignals, &received);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "origin_server: %s\n", error.what());
        return 1;
    }
    return 0;
}
