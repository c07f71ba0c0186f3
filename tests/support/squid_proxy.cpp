#include "support/squid_proxy.h"

#include "support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

constexpr const char* authHelper = "/usr/lib/squid/basic_ncsa_auth";
constexpr int startAttempts = 3;  // a new port when another process took ours
constexpr std::chrono::seconds shutdownGrace{10};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string lastLines(const std::string& text, std::size_t count) {
    std::size_t start = text.size();
    if (start > 0 && text[start - 1] == '\n') {
        --start;
    }
    for (std::size_t found = 0; found < count && start > 0; ++found) {
        const auto newline = text.rfind('\n', start - 1);
        start = newline == std::string::npos ? 0 : newline;
    }
    return text.substr(start == 0 ? 0 : start + 1);
}

std::string apr1Hash(const std::string& password) {
    const auto openssl = findProgram("openssl");
    if (openssl.empty()) {
        throw std::runtime_error("openssl is needed for the proxy's password file");
    }
    const auto result = runCommand({openssl, "passwd", "-apr1", password});
    if (result.status != 0 || result.out.empty()) {
        throw std::runtime_error("openssl passwd failed: " + result.err);
    }
    return result.out.substr(0, result.out.find('\n'));
}

}  // namespace

int freeLoopbackPort() {
    const int probe = listenOnLoopback(0, "port probe");
    const int port = localPort(probe);
    close(probe);
    return port;
}

bool acceptsConnections(int port) {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return connected;
}

SquidProxy::SquidProxy(SquidSettings settings)
    : settings_(std::move(settings)), folder_("reqwatch-squid") {
    const auto squid = findProgram("squid");
    if (squid.empty()) {
        throw std::runtime_error("squid is not installed");
    }
    for (int attempt = 1;; ++attempt) {
        port_ = freeLoopbackPort();
        // Squid names its shared memory segments after the service name; a
        // name of our own keeps two proxies on one machine apart.
        serviceName_ = "reqwatch" + std::to_string(port_);
        writeFiles();
        process_ = ChildProcess({squid, "-N", "-n", serviceName_, "-f", folder_.file("squid.conf")},
                                folder_.file("squid.out"));
        if (waitUntilAccepting()) {
            return;
        }
        const bool portTaken =
            readFile(folder_.file("cache.log")).find("Address already in use") != std::string::npos;
        if (!portTaken || attempt == startAttempts) {
            const std::string failure = startFailure(
                process_.running() ? "squid did not accept connections within " +
                                         std::to_string(settings_.startTimeout.count()) + " s"
                                   : "squid ended with status " + std::to_string(process_.stop()) +
                                         " before accepting connections");
            stop();
            throw std::runtime_error(failure);
        }
        stop();
        std::filesystem::remove(folder_.file("cache.log"));
    }
}

SquidProxy::~SquidProxy() {
    stop();
}

std::string SquidProxy::proxyUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string SquidProxy::cacheLogTail(std::size_t lines) const {
    return lastLines(readFile(folder_.file("cache.log")), lines);
}

void SquidProxy::stop() {
    if (process_.running()) {
        kill(process_.pid(), SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + shutdownGrace;
        while (process_.running() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    process_.stop();  // kills it when the shutdown took too long
    // A killed Squid leaves its shared memory segments behind.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        if (entry.path().filename().string().rfind(serviceName_ + "-", 0) == 0) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

void SquidProxy::writeFiles() const {
    std::string passwords;
    for (const auto& user : settings_.users) {
        passwords += user.login + ":" + apr1Hash(user.password) + "\n";
    }
    const std::string folder = folder_.path();
    const std::string rate = std::to_string(settings_.bytesPerSecond);
    const std::string clientAcl =
        settings_.clientNetwork.empty() ? "" : "acl clients src " + settings_.clientNetwork + "\n";
    const std::string clients = settings_.clientNetwork.empty() ? "localhost" : "clients";
    folder_.writeFile("passwords", passwords, 0600);
    folder_.writeFile("squid.conf",
                      "http_port 127.0.0.1:" + std::to_string(port_) +
                          "\n"
                          "visible_hostname reqwatch-test\n"
                          "dns_nameservers 127.0.0.1\n"
                          "pid_filename " +
                          folder + "/squid.pid\ncache_log " + folder +
                          "/cache.log\naccess_log stdio:" + folder + "/access.log\ncoredump_dir " +
                          folder +
                          "\n"
                          "netdb_filename none\n"
                          "pinger_enable off\n"
                          "max_filedescriptors " +
                          std::to_string(settings_.maxFileDescriptors) +
                          "\n"
                          "shutdown_lifetime 1 seconds\n"
                          "cache deny all\n"
                          "cachemgr_passwd " +
                          settings_.managerPassword +
                          " all\n"
                          "auth_param basic program " +
                          authHelper + " " + folder +
                          "/passwords\n"
                          "auth_param basic children 2\n"
                          "auth_param basic realm reqwatch-test\n"
                          // Without this Squid lower-cases a login before the helper sees it,
                          // and a login in capitals never matches its password file line.
                          "auth_param basic casesensitive on\n"
                          "acl authenticated proxy_auth REQUIRED\n" +
                          clientAcl +
                          "http_access allow localhost manager\n"
                          "http_access deny manager\n"
                          "http_access allow " +
                          clients +
                          " authenticated\n"
                          "http_access deny all\n"
                          "delay_pools 1\n"
                          "delay_class 1 1\n"
                          "delay_parameters 1 " +
                          rate + "/" + rate +
                          "\n"
                          "delay_access 1 deny manager\n"
                          "delay_access 1 allow all\n");
    // Squid started by root works as the proxy user.
    if (geteuid() == 0) {
        if (const passwd* proxy = getpwnam("proxy")) {
            for (const auto* name : {"", "passwords", "squid.conf"}) {
                const std::string path = *name == '\0' ? folder : folder_.file(name);
                if (chown(path.c_str(), proxy->pw_uid, proxy->pw_gid) != 0) {
                    throw std::runtime_error("cannot hand " + path +
                                             " to the proxy user: " + std::strerror(errno));
                }
            }
        }
    }
}

bool SquidProxy::waitUntilAccepting() {
    const auto deadline = std::chrono::steady_clock::now() + settings_.startTimeout;
    const std::string cacheLog = folder_.file("cache.log");
    while (process_.running() && std::chrono::steady_clock::now() < deadline) {
        // The log line tells that it is Squid, not some other program, that
        // listens on the port.
        if (readFile(cacheLog).find("Accepting HTTP Socket connections") != std::string::npos &&
            acceptsConnections(port_)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string SquidProxy::startFailure(const std::string& reason) const {
    return reason + " (port " + std::to_string(port_) + ", folder " + folder_.path() +
           ")\n--- squid output ---\n" + lastLines(readFile(folder_.file("squid.out")), 10) +
           "--- end of cache.log ---\n" + cacheLogTail();
}

}  // namespace testsupport
