#pragma once

#include <string>

#include "app/options.h"

namespace reqwatch {

// The help screen: every key with the current value of the setting it
// controls, one line each, every line ended by a line feed.
std::string helpText(const Options& options);

}  // namespace reqwatch
