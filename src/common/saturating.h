// 64-bit sums and differences that stop at the limits instead of overflowing:
// numbers from a proxy page are not to be trusted.
#pragma once

#include <cstdint>
#include <limits>

namespace reqwatch {

inline std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t result;
    if (__builtin_add_overflow(a, b, &result)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    }
    return result;
}

inline std::int64_t saturatingSubtract(std::int64_t a, std::int64_t b) {
    std::int64_t result;
    if (__builtin_sub_overflow(a, b, &result)) {
        return b < 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    }
    return result;
}

}  // namespace reqwatch
