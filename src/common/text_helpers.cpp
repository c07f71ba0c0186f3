#include "common/text_helpers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

namespace reqwatch {

StringList splitString(std::string text, const std::string& delimiters) {
    StringList result;
    std::string_view rest(text);
    if (!delimiters.empty()) {
        for (;;) {
            const auto position = rest.find_first_of(delimiters);
            if (position == std::string_view::npos) {
                break;
            }
            result.emplace_back(rest.substr(0, position));
            rest.remove_prefix(position + 1);
        }
    }
    if (!rest.empty()) {
        result.emplace_back(rest);
    }
    return result;
}

std::int64_t parseInteger(const std::string& text) {
    static_assert(sizeof(long) == sizeof(std::int64_t), "strtol must convert 64-bit values");
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (errno == ERANGE) {
        throw std::string("Unacceptable input");
    }
    if (end == begin) {
        throw std::string("Unacceptable input");
    }
    const std::string rest(end, begin + text.size() - end);
    if (!rest.empty()) {
        throw "Invalid input '" + rest + "'";
    }
    return value;
}

std::int64_t parseBoundedInteger(const std::string& text, std::int64_t least, std::int64_t most,
                                 const std::string& outOfRange) {
    const std::int64_t value = parseInteger(text);
    if (value < least || value > most) {
        throw outOfRange;
    }
    return value;
}

void toLowerCase(std::string& text) {
    for (char& c : text) {
        c = lowerCaseCharacter(c);
    }
}

StringList splitLogins(std::string text) {
    toLowerCase(text);
    return splitString(std::move(text), ",");
}

std::string joinStrings(const StringList& list, const std::string& separator) {
    std::string result;
    for (const auto& item : list) {
        result += item;
        result += separator;
    }
    if (!list.empty()) {
        result.resize(result.size() - separator.size());
    }
    return result;
}

std::string replaceAll(std::string text, const std::string& pattern,
                       const std::string& replacement) {
    if (pattern.empty()) {
        return text;
    }
    std::size_t position = 0;
    while ((position = text.find(pattern, position)) != std::string::npos) {
        text.replace(position, pattern.size(), replacement);
        position += replacement.size();
    }
    return text;
}

bool listContains(const StringList& list, std::string_view text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

bool listContainsSubstring(const StringList& list, std::string_view needle) {
    return std::any_of(list.begin(), list.end(), [needle](const std::string& item) {
        return item.find(needle) != std::string::npos;
    });
}

void removeFromList(StringList& list, std::string_view text) {
    const auto found = std::find(list.begin(), list.end(), text);
    if (found != list.end()) {
        list.erase(found);
    }
}

}  // namespace reqwatch
