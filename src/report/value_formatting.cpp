#include "report/value_formatting.h"

#include <charconv>
#include <cstdlib>

namespace reqwatch {

namespace {

constexpr std::int64_t kilobyte = 1024;
constexpr std::int64_t megabyte = 1024 * kilobyte;
constexpr std::int64_t gigabyte = 1024 * megabyte;

// |value| >= limit, also for the lowest value, whose absolute value does not fit.
bool atLeastInMagnitude(std::int64_t value, std::int64_t limit) {
    return value >= limit || value <= -limit;
}

}  // namespace

void appendNumber(std::string& text, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    text.append(buffer, result.ptr);
}

std::string formatNumber(std::int64_t value) {
    std::string text;
    appendNumber(text, value);
    return text;
}

std::string formatFixed(double value, int decimals) {
    // Enough for any double in fixed notation with a modest precision.
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        return {};
    }
    return std::string(buffer, result.ptr);
}

std::string joinList(const StringList& items) {
    return joinStrings(items, ", ");
}

std::string formatTime(std::int64_t seconds) {
    std::string text;
    const bool hours = atLeastInMagnitude(seconds, 3600);
    if (hours) {
        appendNumber(text, seconds / 3600);
        text += "h ";
    }
    const std::int64_t minutes = seconds / 60 % 60;
    if (minutes != 0) {
        appendNumber(text, minutes);
        text += "m ";
    }
    const std::int64_t rest = seconds % 60;
    if (rest != 0) {
        appendNumber(text, rest);
        text += "s";
    }
    if (rest == 0 && minutes == 0 && !hours) {
        text = "0s";
    }
    return text;
}

std::string formatSize(std::int64_t bytes) {
    std::string text;
    if (atLeastInMagnitude(bytes, gigabyte)) {
        appendNumber(text, bytes / gigabyte);
        text += "GB ";
    }
    const std::int64_t megabytes = bytes / megabyte - bytes / gigabyte * 1024;
    if (megabytes != 0) {
        appendNumber(text, megabytes);
        text += "MB ";
    }
    appendNumber(text, bytes / kilobyte % 1024);
    text += "KB";
    return text;
}

SpeedParts speedParts(std::int64_t bytesPerSecond) {
    constexpr double perKilobyte = 1.0 / 1024;
    const double value = static_cast<double>(bytesPerSecond);
    if (!atLeastInMagnitude(bytesPerSecond, megabyte)) {
        return {formatFixed(value * perKilobyte, 1), "KB/s"};
    }
    return {formatFixed(value * perKilobyte * perKilobyte, 2), "MB/s"};
}

std::string formatSpeed(std::int64_t bytesPerSecond) {
    const SpeedParts parts = speedParts(bytesPerSecond);
    return parts.number + " " + parts.unit;
}

std::string settingName(SpeedMode mode) {
    switch (mode) {
        case BothSpeeds:
            return "both current and average";
        case AverageOnly:
            return "average only";
        case CurrentOnly:
            return "current only (if available)";
    }
    return {};
}

std::string settingName(SortOrder order) {
    switch (order) {
        case BySize:
            return "by size";
        case ByCurrentSpeed:
            return "by current speed";
        case ByAverageSpeed:
            return "by average speed";
        case ByMaxTime:
            return "by max time";
    }
    return {};
}

std::string settingName(HostsMode mode) {
    switch (mode) {
        case NameAndIp:
            return "both host name and ip";
        case NameOnly:
            return "host name only";
        case IpOnly:
            return "host ip only";
    }
    return {};
}

}  // namespace reqwatch
