// The byte rules of a reply line: a newline ends it; the printable bytes from
// 0x20 to 0x7e are kept; control characters (carriage return and tab among
// them, 0x1f and 0x7f too) and bytes from 0x80 up are dropped; at most
// maxLineLength bytes are kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace reqwatch {

inline constexpr std::size_t maxLineLength = 1 << 20;

// Appends the kept bytes of [begin, end) up to the first newline to `line`.
// Returns the position just after that newline, or nullptr when the range
// holds none (the line goes on in the next block).
const char* takeLineBytes(std::string& line, const char* begin, const char* end);

// The common case without copying: when the line that starts at `begin` ends
// in [begin, end) and its kept bytes lie in one run (dropped bytes only at
// its start and end, such as an indenting tab or a closing carriage return),
// sets `line` to that run, cut to maxLineLength, and returns the position
// after the newline. Otherwise returns nullptr; takeLineBytes then applies.
const char* viewLineBytes(std::string_view& line, const char* begin, const char* end);

}  // namespace reqwatch
