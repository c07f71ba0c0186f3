#include "support/stop_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {

StopSignal::StopSignal() {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("pipe failed");
    }
}

StopSignal::~StopSignal() {
    close(pipe_[0]);
    close(pipe_[1]);
}

void StopSignal::raise() {
    raised_ = true;
    // The byte is never read, so every wait from now on wakes at once.
    const char byte = 1;
    (void)!write(pipe_[1], &byte, 1);
}

}  // namespace testsupport
