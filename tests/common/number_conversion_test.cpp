#include "common/number_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace reqwatch {
namespace {

TEST(NumberConversion, ReadsLeadingDigitsAndStopsAtTheLimits) {
    constexpr auto max64 = std::numeric_limits<std::int64_t>::max();
    constexpr auto min64 = std::numeric_limits<std::int64_t>::min();
    struct Case {
        const char* text;
        std::int64_t value64;
        std::int32_t value32;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"abc", 0, 0},
        {"-", 0, 0},
        {" \t\n12", 12, 12},
        {"+7", 7, 7},
        {"-3", -3, -3},
        {"12abc", 12, 12},
        {"007", 7, 7},
        {"9223372036854775807", max64, INT32_MAX},
        {"9223372036854775808", max64, INT32_MAX},
        {"99999999999999999999", max64, INT32_MAX},
        {"-9223372036854775808", min64, INT32_MIN},
        {"-9223372036854775809", min64, INT32_MIN},
        {"922337203685477580", 922337203685477580, INT32_MAX},
        {"2147483647", 2147483647, INT32_MAX},
        {"2147483648", 2147483648, INT32_MAX},
        {"-2147483649", -2147483649, INT32_MIN},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(leadingInteger64(item.text), item.value64) << item.text;
        EXPECT_EQ(leadingInteger32(item.text), item.value32) << item.text;
    }
}

}  // namespace
}  // namespace reqwatch
