#include "cachemgr/cancel_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace reqwatch {

CancelSignal::CancelSignal() : descriptor_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (descriptor_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

CancelSignal::~CancelSignal() {
    ::close(descriptor_);
}

void CancelSignal::request() noexcept {
    requested_.store(true);
    const std::uint64_t one = 1;
    ssize_t written;
    do {
        written = ::write(descriptor_, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
}

void CancelSignal::reset() noexcept {
    requested_.store(false);
    std::uint64_t count;
    ssize_t received;
    do {
        received = ::read(descriptor_, &count, sizeof count);
    } while (received < 0 && errno == EINTR);
}

}  // namespace reqwatch
