#include "support/squid_proxy.h"

#include "support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

namespace testsupport {

namespace {

constexpr const char* authHelper = "/usr/lib/squid/basic_ncsa_auth";
constexpr int startAttempts = 3;  // new ports when another process took one of ours
constexpr std::chrono::seconds shutdownGrace{10};
constexpr std::chrono::seconds killGrace{5};
// In SMP mode Squid's processes talk over UNIX sockets named
// <service>-coordinator.ipc and <service>-kid-N.ipc in a folder built into
// the program (Debian: /var/run/squid), which squid.conf cannot move, and
// which a clean shutdown leaves behind.
constexpr const char* ipcFolder = "/var/run/squid";
// As Debian's tmpfiles.d entry for Squid makes it at boot.
constexpr mode_t ipcFolderMode = 0755;

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

// The files of one proxy in a folder: the names that start with "<service>-".
std::vector<std::filesystem::path> filesOf(const std::string& folder,
                                           const std::string& serviceName) {
    std::vector<std::filesystem::path> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        if (entry.path().filename().string().rfind(serviceName + "-", 0) == 0) {
            files.push_back(entry.path());
        }
    }
    return files;
}

// The processes that run Squid from a configuration file (zombies left
// out), each as "PID (NAME)". An SMP master starts its kids with its own
// arguments, and they go on when it is killed; the file, in a folder of the
// proxy's own, tells them from every other process on the machine.
std::vector<std::pair<pid_t, std::string>> processesOf(const std::string& conf) {
    std::vector<std::pair<pid_t, std::string>> found;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // The arguments, each ended by a NUL: "... -f CONF ...".
        const std::string arguments = readFile(entry.path() / "cmdline");
        if (arguments.find(std::string("\0-f\0", 4) + conf + '\0') == std::string::npos) {
            continue;
        }
        // "PID (NAME) STATE ...", where NAME may hold blanks.
        const std::string stat = readFile(entry.path() / "stat");
        const auto nameEnd = stat.rfind(')');
        if (nameEnd != std::string::npos && stat.compare(nameEnd + 1, 2, " Z") != 0) {
            found.emplace_back(std::stoi(name), stat.substr(0, nameEnd + 1));
        }
    }
    return found;
}

// An SMP Squid makes its sockets in the IPC folder. Where /run is a fresh
// tmpfs (a container without an init system) the folder is missing; it is
// made as the package would make it.
void prepareIpcFolder() {
    // Squid started by root works as the proxy user.
    const passwd* proxy = geteuid() == 0 ? getpwnam("proxy") : nullptr;
    const uid_t user = proxy != nullptr ? proxy->pw_uid : geteuid();
    const gid_t group = proxy != nullptr ? proxy->pw_gid : getegid();
    std::error_code error;
    if (!std::filesystem::exists(ipcFolder, error)) {
        if (!std::filesystem::create_directories(ipcFolder, error) && error) {
            throw std::runtime_error(
                std::string("SMP Squid needs ") + ipcFolder +
                " for its IPC sockets, and it cannot be made: " + error.message());
        }
        if (chmod(ipcFolder, ipcFolderMode) != 0 ||
            (proxy != nullptr && chown(ipcFolder, user, group) != 0)) {
            throw std::runtime_error(std::string("cannot hand ") + ipcFolder +
                                     " to the proxy user: " + std::strerror(errno));
        }
    }
    struct stat folder {};
    if (stat(ipcFolder, &folder) != 0) {
        throw std::runtime_error(std::string("cannot read ") + ipcFolder + ": " +
                                 std::strerror(errno));
    }
    const bool writable = user == 0 || (folder.st_uid == user && (folder.st_mode & S_IWUSR)) ||
                          (folder.st_gid == group && (folder.st_mode & S_IWGRP)) ||
                          (folder.st_mode & S_IWOTH);
    if (!writable) {
        throw std::runtime_error(std::string("SMP Squid makes its IPC sockets in ") + ipcFolder +
                                 ", which user " + std::to_string(user) +
                                 " that it runs as cannot write");
    }
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
    if (smp()) {
        prepareIpcFolder();
    }
    // The destructor does not run when the constructor throws.
    try {
        start(squid);
    } catch (...) {
        stop();
        throw;
    }
}

void SquidProxy::start(const std::string& squid) {
    for (int attempt = 1;; ++attempt) {
        pickPorts();
        // Squid names its shared memory segments and IPC sockets after the
        // service name; a name of our own keeps two proxies on one machine
        // apart.
        serviceName_ = "reqwatch" + std::to_string(port_);
        writeFiles();
        const std::string conf = folder_.file("squid.conf");
        if (smp()) {
            // -N would run a single process whatever the workers.
            process_ = ChildProcess({squid, "--foreground", "-n", serviceName_, "-f", conf},
                                    folder_.file("squid.out"));
        } else {
            process_ = ChildProcess({squid, "-N", "-n", serviceName_, "-f", conf},
                                    folder_.file("squid.out"));
        }
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

int SquidProxy::workerPort(int worker) const {
    if (worker < 1 || worker > static_cast<int>(workerPorts_.size())) {
        throw std::out_of_range("no port of worker " + std::to_string(worker));
    }
    return workerPorts_[static_cast<std::size_t>(worker - 1)];
}

std::string SquidProxy::proxyUrl(int port) {
    return "http://127.0.0.1:" + std::to_string(port);
}

void SquidProxy::pickPorts() {
    std::set<int> taken;
    const auto pick = [&taken] {
        for (;;) {
            const int port = freeLoopbackPort();
            if (taken.insert(port).second) {
                return port;
            }
        }
    };
    port_ = pick();
    workerPorts_.clear();
    for (int worker = 1; smp() && worker <= settings_.workers; ++worker) {
        workerPorts_.push_back(pick());
    }
}

std::string SquidProxy::cacheLogTail(std::size_t lines) const {
    return lastLines(readFile(folder_.file("cache.log")), lines);
}

void SquidProxy::stop() {
    if (process_.running()) {
        // In SMP mode the master passes the signal on to its kids and ends
        // after them.
        kill(process_.pid(), SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + shutdownGrace;
        while (process_.running() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    process_.stop();  // kills it when the shutdown took too long
    // A master that was killed, or died, leaves its kids running without it.
    const std::string conf = folder_.file("squid.conf");
    if (const auto kids = processesOf(conf); !kids.empty()) {
        for (const auto& [pid, name] : kids) {
            kill(pid, SIGKILL);
        }
        const auto deadline = std::chrono::steady_clock::now() + killGrace;
        while (!processesOf(conf).empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // A killed Squid leaves its shared memory segments behind, and even a
    // clean SMP shutdown its IPC sockets.
    std::error_code ignored;
    for (const auto* folder : {"/dev/shm", ipcFolder}) {
        for (const auto& file : filesOf(folder, serviceName_)) {
            std::filesystem::remove(file, ignored);
        }
    }
}

std::string SquidProxy::leftovers() const {
    std::string found;
    for (const auto& [pid, name] : processesOf(folder_.file("squid.conf"))) {
        found += "process " + name + "\n";
    }
    for (const auto* folder : {"/dev/shm", ipcFolder}) {
        for (const auto& file : filesOf(folder, serviceName_)) {
            found += file.string() + "\n";
        }
    }
    return found;
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
    std::string workers;
    if (smp()) {
        workers = "workers " + std::to_string(settings_.workers) + "\n";
        for (int worker = 1; worker <= settings_.workers; ++worker) {
            workers += "if ${process_number} = " + std::to_string(worker) +
                       "\nhttp_port 127.0.0.1:" + std::to_string(workerPort(worker)) + "\nendif\n";
        }
        // Nothing is cached anyway; a memory cache shared by the workers
        // would take hundreds of MB of /dev/shm, more than a container has.
        workers += "cache_mem 0 MB\nmemory_cache_shared off\n";
    }
    folder_.writeFile("passwords", passwords, 0600);
    folder_.writeFile("squid.conf",
                      "http_port 127.0.0.1:" + std::to_string(port_) + "\n" + workers +
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
        if (accepting(readFile(cacheLog))) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool SquidProxy::accepting(const std::string& cacheLog) const {
    // The log line tells that it is Squid, not some other program, that
    // listens on the port.
    if (!smp()) {
        return cacheLog.find("Accepting HTTP Socket connections") != std::string::npos &&
               acceptsConnections(port_);
    }
    constexpr std::string_view accepts = "| Accepting HTTP Socket connections at ";
    constexpr std::string_view local = " local=127.0.0.1:";
    // Each worker logs each of its ports: "kidN| Accepting HTTP Socket
    // connections at conn3 local=127.0.0.1:PORT remote=...". The shared
    // port accepts as soon as one worker does.
    std::set<std::pair<int, int>> listening;  // worker, port
    std::istringstream lines(cacheLog);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(accepts);
        if (at == std::string::npos) {
            continue;
        }
        const auto kid = line.rfind(" kid", at);
        const auto address = line.find(local, at);
        if (kid == std::string::npos || address == std::string::npos) {
            continue;
        }
        listening.emplace(std::atoi(line.c_str() + kid + 4),
                          std::atoi(line.c_str() + address + local.size()));
    }
    for (int worker = 1; worker <= settings_.workers; ++worker) {
        for (const int port : {port_, workerPort(worker)}) {
            if (listening.count({worker, port}) == 0 || !acceptsConnections(port)) {
                return false;
            }
        }
    }
    return true;
}

std::string SquidProxy::startFailure(const std::string& reason) const {
    std::string ports = std::to_string(port_);
    for (const int port : workerPorts_) {
        ports += ", " + std::to_string(port);
    }
    return reason + " (port " + ports + ", folder " + folder_.path() + ")\n--- squid output ---\n" +
           lastLines(readFile(folder_.file("squid.out")), 10) + "--- end of cache.log ---\n" +
           cacheLogTail();
}

}  // namespace testsupport
