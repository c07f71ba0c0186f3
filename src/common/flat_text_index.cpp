#include "common/flat_text_index.h"

#include <chrono>
#include <exception>
#include <random>

namespace reqwatch {

std::uint64_t FlatTextIndex::seed() {
    static const std::uint64_t value = []() -> std::uint64_t {
        try {
            std::random_device source;
            return (static_cast<std::uint64_t>(source()) << 32) ^ source();
        } catch (const std::exception&) {
            // No source of randomness: the clock is still unknown to a page.
            return static_cast<std::uint64_t>(
                std::chrono::steady_clock::now().time_since_epoch().count());
        }
    }();
    return value;
}

}  // namespace reqwatch
