// One line of text per client connection and per requested URL, with the
// optional detail items that the output options choose, and the summary line
// of the once-only report.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"
#include "cachemgr/records.h"

namespace reqwatch {

std::string headerLine(const Options& options, std::int64_t activeConnections,
                       std::int64_t activeHosts, std::int64_t averageSpeed);
std::string connectionLine(const Options& options, const Connection& connection);
std::string urlLine(const Options& options, const Connection& connection, const UrlEntry& url);
// The same lines appended to a text, as a long report is built.
void appendConnectionLine(std::string& text, const Options& options, const Connection& connection);
void appendUrlLine(std::string& text, const Options& options, const Connection& connection,
                   const UrlEntry& url);
std::string speedSummary(SpeedMode mode, std::int64_t averageSpeed, std::int64_t currentSpeed);
std::string hostText(const Options& options, const Connection& connection);

}  // namespace reqwatch
