// Running child programs from tests: capture their output and exit status.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs a program to its end with the given arguments (argv[0] first) and
// extra environment variables; standard input is /dev/null.
RunResult runCommand(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& environment = {},
                     std::chrono::seconds timeout = std::chrono::seconds(60));

// Runs the reqwatch executable of this build with the given arguments.
RunResult runReqwatch(const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment = {});

// The same, measuring its peak resident memory in KiB.
RunResult runReqwatchMeasured(const std::vector<std::string>& arguments, long& peakKb);

// A child process started in the background and stopped by its id when the
// object goes: SIGTERM, then SIGKILL if it does not end within a second.
class ChildProcess {
  public:
    ChildProcess() = default;
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile = "");
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;

    pid_t pid() const { return pid_; }
    bool running();
    // Stops the process and returns its exit status (128 + signal when killed).
    int stop();

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// The path of a program on PATH, or empty.
std::string findProgram(const std::string& name);

}  // namespace testsupport
