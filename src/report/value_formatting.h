// Display texts of numbers, sizes, durations and speeds, in the classic
// locale whatever the user's locale is. Units are 1024-based.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"
#include "common/text_helpers.h"

namespace reqwatch {

struct SpeedParts {
    std::string number;
    std::string unit;  // "KB/s" or "MB/s"
};

std::string formatNumber(std::int64_t value);
std::string formatFixed(double value, int decimals);
std::string joinList(const StringList& items);
std::string formatTime(std::int64_t seconds);
std::string formatSize(std::int64_t bytes);
SpeedParts speedParts(std::int64_t bytesPerSecond);
std::string formatSpeed(std::int64_t bytesPerSecond);

// Display names; the empty text for a value outside the enumeration.
std::string settingName(SpeedMode mode);
std::string settingName(SortOrder order);
std::string settingName(HostsMode mode);

// Appends the decimal text of a value; the building block of the report lines.
void appendNumber(std::string& text, std::int64_t value);

}  // namespace reqwatch
