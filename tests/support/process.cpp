#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

namespace {

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto name = text.substr(0, text.find('='));
        if (extra.find(name) == extra.end()) {
            result.push_back(text);
        }
    }
    for (const auto& [name, value] : extra) {
        result.push_back(name + "=" + value);
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

}  // namespace

RunResult runCommand(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& environment,
                     std::chrono::seconds timeout) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = environmentWith(environment);
    auto argumentPointers = pointers(arguments);
    auto variablePointers = pointers(variables);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argumentPointers[0], &actions, nullptr,
                                     argumentPointers.data(), variablePointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(spawned));
    }
    RunResult result;
    pollfd descriptors[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int open = 2;
    bool timedOut = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        const int ready = poll(descriptors, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (descriptors[i].fd < 0 || descriptors[i].revents == 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t count = read(descriptors[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                close(descriptors[i].fd);
                descriptors[i].fd = -1;
                --open;
            }
        }
    }
    if (timedOut) {
        kill(pid, SIGKILL);
    }
    for (auto& descriptor : descriptors) {
        if (descriptor.fd >= 0) {
            close(descriptor.fd);
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = timedOut ? -1 : decodeStatus(status);
    return result;
}

RunResult runReqwatch(const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment) {
    std::vector<std::string> argv{REQWATCH_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runCommand(argv, environment);
}

RunResult runReqwatchMeasured(const std::vector<std::string>& arguments, long& peakKb) {
    char file[] = "/tmp/reqwatch-peak.XXXXXX";
    const int descriptor = mkstemp(file);
    if (descriptor < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    close(descriptor);
    std::vector<std::string> argv{PEAK_MEMORY_BINARY, file, REQWATCH_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    RunResult result = runCommand(argv);
    peakKb = -1;
    if (FILE* input = std::fopen(file, "r")) {
        if (std::fscanf(input, "%ld", &peakKb) != 1) {
            peakKb = -1;
        }
        std::fclose(input);
    }
    unlink(file);
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string output = outputFile.empty() ? "/dev/null" : outputFile;
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> arguments = argv;
    auto argumentPointers = pointers(arguments);
    const int spawned = posix_spawnp(&pid_, argumentPointers[0], &actions, nullptr,
                                     argumentPointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(spawned));
    }
}

ChildProcess::~ChildProcess() {
    stop();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

bool ChildProcess::running() {
    if (pid_ < 0) {
        return false;
    }
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = decodeStatus(status);
        pid_ = -1;
        return false;
    }
    return true;
}

int ChildProcess::stop() {
    if (!running()) {
        return status_;
    }
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (!running()) {
            return status_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = decodeStatus(status);
    pid_ = -1;
    return status_;
}

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    directories += ":/usr/sbin:/sbin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        const auto end = directories.find(':', start);
        const std::string directory =
            directories.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = directory + "/" + name;
        if (!directory.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace testsupport
