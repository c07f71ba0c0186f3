// Text and list helpers shared by the command line, the page parser, the
// client filters and the interactive screen. Texts are byte strings compared
// byte by byte; nothing here keeps state or locks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace reqwatch {

using StringList = std::vector<std::string>;

// Splits at every character of `delimiters`. Runs of delimiters give empty
// items, a leading delimiter an empty first item; a trailing delimiter gives no
// empty last item. Blanks are not trimmed.
StringList splitString(std::string text, const std::string& delimiters);

// Converts a decimal integer the way strtol does (leading white space, one
// optional sign). Throws the plain text "Unacceptable input" when there is no
// digit or the value does not fit in 64 bits, and "Invalid input '<rest>'"
// when characters follow the number.
std::int64_t parseInteger(const std::string& text);

// As parseInteger, and throws `outOfRange` when the value is below `least` or
// above `most`.
std::int64_t parseBoundedInteger(const std::string& text, std::int64_t least, std::int64_t most,
                                 const std::string& outOfRange);

// The 26 ASCII capitals lower-cased; every other byte stays.
constexpr char lowerCaseCharacter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Lower-cases the 26 ASCII capitals in place; every other byte stays.
void toLowerCase(std::string& text);

// A comma-separated list of logins, lower-cased, as they are compared.
StringList splitLogins(std::string text);

std::string joinStrings(const StringList& list, const std::string& separator);

// Replaces every occurrence of `pattern` (not empty) by `replacement`, never
// searching inside an inserted replacement.
std::string replaceAll(std::string text, const std::string& pattern,
                       const std::string& replacement);

bool listContains(const StringList& list, std::string_view text);
bool listContainsSubstring(const StringList& list, std::string_view needle);

// Removes the first element equal to `text`, keeping the order of the others.
void removeFromList(StringList& list, std::string_view text);

}  // namespace reqwatch
