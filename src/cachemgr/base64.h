#pragma once

#include <string>
#include <string_view>

namespace reqwatch {

inline constexpr std::string_view base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Standard Base64 with "=" padding.
std::string base64Encode(std::string_view bytes);

}  // namespace reqwatch
