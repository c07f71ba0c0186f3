#include "cachemgr/line_bytes.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace reqwatch {

namespace {

// Only printable ASCII is kept, 0x20 (blank) to 0x7e; a newline is dropped too.
bool dropped(char c) {
    return static_cast<signed char>(c) < 0x20 || c == 0x7f;
}

// The first dropped byte of [begin, end), or end.
const char* firstDropped(const char* begin, const char* end) {
#if defined(__SSE2__)
    // Taken as signed bytes, those below a blank are the control bytes and
    // every byte from 0x80 up.
    const __m128i blank = _mm_set1_epi8(0x20);
    const __m128i erase = _mm_set1_epi8(0x7f);
    while (end - begin >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
        const int mask = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmplt_epi8(bytes, blank), _mm_cmpeq_epi8(bytes, erase)));
        if (mask != 0) {
            return begin + __builtin_ctz(static_cast<unsigned>(mask));
        }
        begin += 16;
    }
#endif
    while (begin < end && !dropped(*begin)) {
        ++begin;
    }
    return begin;
}

// Past the dropped bytes other than a newline.
const char* skipDropped(const char* begin, const char* end) {
    while (begin < end && *begin != '\n' && dropped(*begin)) {
        ++begin;
    }
    return begin;
}

}  // namespace

const char* takeLineBytes(std::string& line, const char* begin, const char* end) {
    const auto* newline =
        static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
    const char* stop = newline != nullptr ? newline : end;
    while (begin < stop) {
        const char* run = firstDropped(begin, stop);
        if (run > begin && line.size() < maxLineLength) {
            const std::size_t room = maxLineLength - line.size();
            const auto length = static_cast<std::size_t>(run - begin);
            line.append(begin, length < room ? length : room);
        }
        begin = run;
        while (begin < stop && dropped(*begin)) {
            ++begin;
        }
    }
    return newline != nullptr ? newline + 1 : nullptr;
}

const char* viewLineBytes(std::string_view& line, const char* begin, const char* end) {
    const char* start = skipDropped(begin, end);
    const char* stop = firstDropped(start, end);
    const char* after = skipDropped(stop, end);
    if (after == end || *after != '\n') {
        return nullptr;  // more kept bytes after a gap, or no newline here
    }
    const auto length = static_cast<std::size_t>(stop - start);
    line = std::string_view(start, length < maxLineLength ? length : maxLineLength);
    return after + 1;
}

}  // namespace reqwatch
