// A stop request that a blocked network wait can see: a flag plus a
// descriptor that is readable while the stop is requested.
#pragma once

#include <atomic>

namespace reqwatch {

class CancelSignal {
  public:
    CancelSignal();
    ~CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;

    void request() noexcept;
    // Takes a request back, for the next wait; the caller makes sure that
    // no request it must see can come in between.
    void reset() noexcept;
    bool requested() const noexcept { return requested_.load(); }
    // Readable once request() has run; poll it beside the socket.
    int descriptor() const noexcept { return descriptor_; }

  private:
    std::atomic<bool> requested_{false};
    int descriptor_ = -1;
};

}  // namespace reqwatch
