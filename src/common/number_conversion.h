// Lenient conversions of page numbers in the manner of atoi and atoll: leading
// white space, an optional sign, digits up to the first other character, and 0
// when there are none. Out-of-range values stop at the limits of the type.
#pragma once

#include <cstdint>
#include <string_view>

namespace reqwatch {

std::int64_t leadingInteger64(std::string_view text);
std::int32_t leadingInteger32(std::string_view text);

}  // namespace reqwatch
