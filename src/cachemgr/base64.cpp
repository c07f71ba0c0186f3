#include "cachemgr/base64.h"

#include <cstdint>

namespace reqwatch {

std::string base64Encode(std::string_view bytes) {
    std::string result;
    result.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t index = 0;
    const auto byteAt = [&bytes](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
    };
    for (; index + 3 <= bytes.size(); index += 3) {
        const std::uint32_t group =
            byteAt(index) << 16 | byteAt(index + 1) << 8 | byteAt(index + 2);
        result += base64Alphabet[group >> 18 & 63];
        result += base64Alphabet[group >> 12 & 63];
        result += base64Alphabet[group >> 6 & 63];
        result += base64Alphabet[group & 63];
    }
    const std::size_t left = bytes.size() - index;
    if (left > 0) {
        std::uint32_t group = byteAt(index) << 16;
        if (left == 2) {
            group |= byteAt(index + 1) << 8;
        }
        result += base64Alphabet[group >> 18 & 63];
        result += base64Alphabet[group >> 12 & 63];
        result += left == 2 ? base64Alphabet[group >> 6 & 63] : '=';
        result += '=';
    }
    return result;
}

}  // namespace reqwatch
