// The fake cache manager as a program of its own, for tests that run the
// real executable in a terminal or a private network namespace.
//
//   fake_cachemgr [--port N] [--port-file FILE] [--reply FILE]... [--hang]
//                 [--chunk BYTES] [--delay MS]
//
// Replies are used in turn, one per connection; the last one repeats. It
// serves until it is sent SIGTERM or SIGINT.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "support/fake_cache_manager.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::cerr << "fake_cachemgr: cannot read " << path << "\n";
        std::exit(2);
    }
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    std::string portFile;
    std::vector<testsupport::FakeReply> replies;
    testsupport::FakeReply shape;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--port" && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (argument == "--port-file" && hasValue) {
            portFile = argv[++i];
        } else if (argument == "--reply" && hasValue) {
            testsupport::FakeReply reply;
            reply.bytes = readFile(argv[++i]);
            replies.push_back(reply);
        } else if (argument == "--hang") {
            shape.hang = true;
        } else if (argument == "--chunk" && hasValue) {
            shape.chunkSize = static_cast<std::size_t>(std::atol(argv[++i]));
        } else if (argument == "--delay" && hasValue) {
            shape.chunkDelay = std::chrono::milliseconds(std::atol(argv[++i]));
        } else {
            std::cerr << "usage: fake_cachemgr [--port N] [--port-file FILE] [--reply FILE]..."
                         " [--hang] [--chunk BYTES] [--delay MS]\n";
            return 2;
        }
    }
    for (auto& reply : replies) {
        reply.hang = shape.hang;
        reply.chunkSize = shape.chunkSize;
        reply.chunkDelay = shape.chunkDelay;
    }
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    testsupport::FakeCacheManager server(port);
    server.setReplies(replies);
    if (!portFile.empty()) {
        const std::string temporary = portFile + ".new";
        std::ofstream(temporary) << server.port() << "\n";
        std::rename(temporary.c_str(), portFile.c_str());
    } else {
        std::cout << server.port() << std::endl;
    }
    while (stopRequested == 0) {
        pause();
    }
    return 0;
}
