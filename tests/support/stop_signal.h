// The stop of a test server's threads: a flag, and a pipe that every poll of
// theirs watches so that raising the flag also ends their waits at once.
#pragma once

#include <atomic>

namespace testsupport {

class StopSignal {
  public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Sets the flag and makes the descriptor readable for good.
    void raise();
    bool raised() const { return raised_; }
    // For poll with POLLIN.
    int descriptor() const { return pipe_[0]; }

  private:
    int pipe_[2] = {-1, -1};
    std::atomic<bool> raised_{false};
};

}  // namespace testsupport
