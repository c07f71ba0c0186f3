#include "report/report_lines.h"

#include "report/value_formatting.h"
#include "resolver/host_name.h"

namespace reqwatch {

namespace {

constexpr std::int64_t shownSizeAbove = 1024;
constexpr std::int64_t shownSpeedFrom = 104;

// Collects the detail items of a line and closes them as " (a, b, c)".
class DetailItems {
  public:
    explicit DetailItems(std::string& line) : line_(line), start_(line.size()) {}

    std::string& next() {
        line_ += line_.size() == start_ ? " (" : ", ";
        return line_;
    }

    void close() {
        if (line_.size() != start_) {
            line_ += ')';
        }
    }

  private:
    std::string& line_;
    const std::size_t start_;
};

bool speedShown(const Options& options, std::int64_t average, std::int64_t current) {
    return options.zero || average >= shownSpeedFrom || current >= shownSpeedFrom;
}

}  // namespace

std::string speedSummary(SpeedMode mode, std::int64_t averageSpeed, std::int64_t currentSpeed) {
    const bool averageForm =
        mode == AverageOnly ||
        (mode == BothSpeeds && (currentSpeed == averageSpeed || currentSpeed < shownSpeedFrom));
    if (averageForm) {
        const SpeedParts average = speedParts(averageSpeed);
        return "average speed: " + average.number + " " + average.unit;
    }
    if (mode == CurrentOnly) {
        const SpeedParts current = speedParts(currentSpeed);
        return "current speed: " + current.number + current.unit;
    }
    if (mode != BothSpeeds) {
        return {};
    }
    const SpeedParts average = speedParts(averageSpeed);
    const SpeedParts current = speedParts(currentSpeed);
    if (current.unit == average.unit) {
        return "current/average speed: " + current.number + "/" + average.number + " " +
               average.unit;
    }
    return "current/average speed: " + current.number + current.unit + " / " + average.number +
           average.unit;
}

std::string hostText(const Options& options, const Connection& connection) {
    if (!options.hostnameLookups) {
        return connection.peer;
    }
    std::string name = connection.hostName;
    if (options.stripDomain) {
        shortenHostName(name);
    }
    switch (options.hostsMode) {
        case NameOnly:
            return name;
        case IpOnly:
            return connection.peer;
        case NameAndIp:
            if (name == connection.peer) {
                return name;
            }
            return name + " [" + connection.peer + "]";
    }
    return {};
}

std::string connectionLine(const Options& options, const Connection& connection) {
    std::string line;
    appendConnectionLine(line, options, connection);
    return line;
}

std::string urlLine(const Options& options, const Connection& connection, const UrlEntry& url) {
    std::string line;
    appendUrlLine(line, options, connection, url);
    return line;
}

void appendConnectionLine(std::string& line, const Options& options, const Connection& connection) {
    line += "  Host: ";
    line += hostText(options, connection);
    if (!connection.users.empty()) {
        line += connection.users.size() == 1 ? "; User: " : "; Users: ";
        line += joinList(connection.users);
    }
    DetailItems items(line);
    if (options.full || options.brief) {
        items.next() += "sessions: ";
        appendNumber(line, static_cast<std::int64_t>(connection.urls.size()));
    }
    if (options.zero || connection.size > shownSizeAbove) {
        items.next() += "size: " + formatSize(connection.size);
    }
    if (speedShown(options, connection.averageSpeed, connection.currentSpeed)) {
        items.next() +=
            speedSummary(options.speedMode, connection.averageSpeed, connection.currentSpeed);
    }
    if (options.full && (connection.maxTime > 0 || options.zero)) {
        items.next() += "max time: " + formatTime(connection.maxTime);
    }
    items.close();
}

void appendUrlLine(std::string& line, const Options& options, const Connection& connection,
                   const UrlEntry& url) {
    line += "    ";
    line += url.uri;
    DetailItems items(line);
    if (url.count >= 2) {
        items.next() += "count: ";
        appendNumber(line, url.count);
    }
    if (options.detail) {
        if (options.zero || url.size > shownSizeAbove) {
            items.next() += "size: " + formatSize(url.size);
        }
        if (options.full && (url.elapsed > 0 || options.zero)) {
            items.next() += "time: " + formatTime(url.elapsed);
        }
        if (connection.users.size() >= 2) {
            items.next() += "user: ";
            line += url.user;
        }
        if (speedShown(options, url.averageSpeed, url.currentSpeed)) {
            items.next() += speedSummary(options.speedMode, url.averageSpeed, url.currentSpeed);
        }
        if (options.full && (url.delayPool != 0 || options.zero)) {
            items.next() += "delay_pool: ";
            appendNumber(line, url.delayPool);
        }
    }
    items.close();
}

std::string headerLine(const Options& options, std::int64_t activeConnections,
                       std::int64_t activeHosts, std::int64_t averageSpeed) {
    if (!options.hosts.empty() || !options.users.empty()) {
        return {};
    }
    std::string line = "\nActive connections: ";
    appendNumber(line, activeConnections);
    line += ", active hosts: ";
    appendNumber(line, activeHosts);
    if (averageSpeed > 103 || options.zero) {
        line += ", average speed: " + formatSpeed(averageSpeed);
    }
    line += "\n";
    return line;
}

}  // namespace reqwatch
