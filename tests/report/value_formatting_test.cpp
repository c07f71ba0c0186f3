#include "report/value_formatting.h"

#include <gtest/gtest.h>

#include <clocale>

namespace reqwatch {
namespace {

TEST(ValueFormatting, Times) {
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "0s"},
        {5, "5s"},
        {60, "1m "},
        {61, "1m 1s"},
        {120, "2m "},
        {3599, "59m 59s"},
        {3600, "1h "},
        {3601, "1h 1s"},
        {3660, "1h 1m "},
        {3661, "1h 1m 1s"},
        {7200, "2h "},
        {90061, "25h 1m 1s"},
        {-3661, "-1h -1m -1s"},
        {INT64_MIN, "-2562047788015215h -30m -8s"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(formatTime(seconds), text) << seconds;
    }
}

TEST(ValueFormatting, Sizes) {
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "0KB"},
        {1023, "0KB"},
        {1536, "1KB"},
        {1048575, "1023KB"},
        {1048576, "1MB 0KB"},
        {5550097, "5MB 300KB"},
        {1073741824, "1GB 0KB"},
        {1076892672, "1GB 3MB 5KB"},
        {3223322624, "3GB 2MB 0KB"},
        {-2048, "-2KB"},
        {INT64_MAX, "8589934591GB 1023MB 1023KB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(formatSize(bytes), text) << bytes;
    }
}

TEST(ValueFormatting, SpeedsChangeUnitOnTheRawValue) {
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "0.0 KB/s"},        {51, "0.0 KB/s"},
        {52, "0.1 KB/s"},       {1024, "1.0 KB/s"},
        {12800, "12.5 KB/s"},   {1048575, "1024.0 KB/s"},
        {1048576, "1.00 MB/s"}, {1572864, "1.50 MB/s"},
        {-2048, "-2.0 KB/s"},   {INT64_MAX, "8796093022208.00 MB/s"},
    };
    for (const auto& [speed, text] : cases) {
        EXPECT_EQ(formatSpeed(speed), text) << speed;
    }
    const SpeedParts parts = speedParts(3145728);
    EXPECT_EQ(parts.number, "3.00");
    EXPECT_EQ(parts.unit, "MB/s");
}

TEST(ValueFormatting, NumbersListsAndSettingNames) {
    EXPECT_EQ(formatNumber(42), "42");
    EXPECT_EQ(formatNumber(-7), "-7");
    EXPECT_EQ(formatFixed(0.05, 1), "0.1");
    EXPECT_EQ(formatFixed(2.5, 0), "2");
    EXPECT_EQ(joinList({"alice", "bob", "carol"}), "alice, bob, carol");
    EXPECT_EQ(joinList({"alice"}), "alice");
    EXPECT_EQ(settingName(CurrentOnly), "current only (if available)");
    EXPECT_EQ(settingName(ByMaxTime), "by max time");
    EXPECT_EQ(settingName(NameOnly), "host name only");
    EXPECT_EQ(settingName(static_cast<SpeedMode>(3)), "");
    EXPECT_EQ(settingName(static_cast<SortOrder>(-1)), "");
    EXPECT_EQ(settingName(static_cast<HostsMode>(7)), "");
}

TEST(ValueFormatting, ClassicLocaleWhateverTheUserLocale) {
    // A locale with digit grouping and a decimal comma must change nothing.
    const char* grouping = nullptr;
    for (const char* name :
         {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "en_US.UTF-8", "C.UTF-8"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            grouping = name;
            break;
        }
    }
    if (grouping == nullptr) {
        GTEST_SKIP() << "no locale besides C is installed";
    }
    std::locale::global(std::locale(""));
    EXPECT_EQ(formatNumber(1234567), "1234567");
    EXPECT_EQ(formatSpeed(12800), "12.5 KB/s");
    EXPECT_EQ(formatSpeed(1572864), "1.50 MB/s");
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace reqwatch
