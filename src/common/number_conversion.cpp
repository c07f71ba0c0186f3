#include "common/number_conversion.h"

#include <limits>

namespace reqwatch {

std::int64_t leadingInteger64(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // The magnitude, which for the lowest value is one more than the highest.
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    // Past a tenth of the limit, or at it with a larger last digit, the next
    // digit overflows; the two are found without a division per digit.
    const std::uint64_t tenth = limit / 10;
    const std::uint64_t lastDigit = limit % 10;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const auto digit = static_cast<unsigned>(text[i] - '0');
        if (digit > 9) {
            break;
        }
        if (magnitude > tenth || (magnitude == tenth && digit > lastDigit)) {
            magnitude = limit;  // too large: the value stops at the limit
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) {
        return static_cast<std::int64_t>(magnitude);
    }
    return magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                              : -static_cast<std::int64_t>(magnitude);
}

std::int32_t leadingInteger32(std::string_view text) {
    const std::int64_t value = leadingInteger64(text);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace reqwatch
