#include "cachemgr/line_bytes.h"

#include <cstring>

namespace reqwatch {

namespace {

bool kept(char c) { return static_cast<signed char>(c) >= 31; }

}  // namespace

const char* takeLineBytes(std::string& line, const char* begin, const char* end) {
    const auto* newline =
        static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
    const char* stop = newline != nullptr ? newline : end;
    while (begin < stop) {
        const char* run = begin;
        while (run < stop && kept(*run)) {
            ++run;
        }
        if (run > begin && line.size() < maxLineLength) {
            const std::size_t room = maxLineLength - line.size();
            const auto length = static_cast<std::size_t>(run - begin);
            line.append(begin, length < room ? length : room);
        }
        begin = run;
        while (begin < stop && !kept(*begin)) {
            ++begin;
        }
    }
    return newline != nullptr ? newline + 1 : nullptr;
}

}  // namespace reqwatch
