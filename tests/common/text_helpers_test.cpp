#include "common/text_helpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace reqwatch {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct SplitCase {
    std::string text;
    std::string delimiters;
    StringList expected;
};

TEST(SplitString, SplitsAtEveryDelimiterAndDropsOnlyAnEmptyLastItem) {
    const SplitCase cases[] = {
        {"", ",", {}},
        {"a", ",", {"a"}},
        {"a,b", ",", {"a", "b"}},
        {"a,,b", ",", {"a", "", "b"}},
        {",a", ",", {"", "a"}},
        {"a,", ",", {"a"}},
        {",", ",", {""}},
        {"a, b", ",", {"a", " b"}},
        {"one  two", " ", {"one", "", "two"}},
        {"10.0.0.0/8", "/", {"10.0.0.0", "8"}},
        {"a;b,c", ",;", {"a", "b", "c"}},
        {"a,b", "", {"a,b"}},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(splitString(item.text, item.delimiters), item.expected)
            << "text '" << item.text << "' at '" << item.delimiters << "'";
    }
}

// The value, or the thrown message.
struct IntegerCase {
    std::string text;
    std::optional<std::int64_t> value;
    std::string message;
};

TEST(ParseInteger, ConvertsDecimalTextOrThrowsItsMessage) {
    const IntegerCase cases[] = {
        {"42", 42, ""},
        {"  42", 42, ""},
        {"\t\n42", 42, ""},
        {"+7", 7, ""},
        {"-3", -3, ""},
        {"007", 7, ""},
        {"9223372036854775807", INT64_MAX, ""},
        {"-9223372036854775808", INT64_MIN, ""},
        {"9223372036854775808", std::nullopt, "Unacceptable input"},
        {"-9223372036854775809", std::nullopt, "Unacceptable input"},
        {"99999999999999999999abc", std::nullopt, "Unacceptable input"},
        {"", std::nullopt, "Unacceptable input"},
        {" ", std::nullopt, "Unacceptable input"},
        {"-", std::nullopt, "Unacceptable input"},
        {"+", std::nullopt, "Unacceptable input"},
        {"abc", std::nullopt, "Unacceptable input"},
        {"12abc", std::nullopt, "Invalid input 'abc'"},
        {"12 ", std::nullopt, "Invalid input ' '"},
        {"0x10", std::nullopt, "Invalid input 'x10'"},
        {"1.5", std::nullopt, "Invalid input '.5'"},
    };
    for (const auto& item : cases) {
        if (item.value) {
            EXPECT_EQ(parseInteger(item.text), *item.value) << "'" << item.text << "'";
            continue;
        }
        try {
            parseInteger(item.text);
            ADD_FAILURE() << "'" << item.text << "' was accepted";
        } catch (const std::string& message) {
            EXPECT_EQ(message, item.message) << "'" << item.text << "'";
        }
    }
}

TEST(ToLowerCase, ChangesOnlyAsciiCapitals) {
    std::string text = "AbC-Z09\xc4\xd6@[`{";
    toLowerCase(text);
    EXPECT_EQ(text, "abc-z09\xc4\xd6@[`{");
}

TEST(JoinStrings, PutsTheSeparatorBetweenItems) {
    EXPECT_EQ(joinStrings({}, ", "), "");
    EXPECT_EQ(joinStrings({"a"}, ", "), "a");
    EXPECT_EQ(joinStrings({"a", "b", "c"}, ", "), "a, b, c");
    EXPECT_EQ(joinStrings({"", ""}, ","), ",");
}

TEST(ReplaceAll, ReplacesWithoutRescanningTheReplacement) {
    EXPECT_EQ(replaceAll("a\nb\nc", "\n", " "), "a b c");
    EXPECT_EQ(replaceAll("aa", "a", "aa"), "aaaa");
    EXPECT_EQ(replaceAll("none", "\n", " "), "none");
}

TEST(ListHelpers, MembershipSubstringAndRemoval) {
    EXPECT_TRUE(listContains({"ab", "c"}, "c"));
    EXPECT_FALSE(listContains({"ab", "c"}, "a"));
    EXPECT_TRUE(listContainsSubstring({"abc"}, "bc"));
    EXPECT_FALSE(listContainsSubstring({}, ""));
    EXPECT_TRUE(listContainsSubstring({"abc"}, ""));
    EXPECT_FALSE(listContainsSubstring({"abc"}, "cb"));

    StringList list{"a", "b", "a"};
    removeFromList(list, "a");
    EXPECT_THAT(list, ElementsAre("b", "a"));
    removeFromList(list, "x");
    EXPECT_THAT(list, ElementsAre("b", "a"));
    removeFromList(list, "b");
    removeFromList(list, "a");
    EXPECT_THAT(list, IsEmpty());
}

}  // namespace
}  // namespace reqwatch
