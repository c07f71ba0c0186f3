// The settings file: "key = value" lines and "#" comments, one key for each
// setting of the command line and the live screen, read before the command
// line (which overrides it) and written by the screen's "w" key. A password
// never goes in it, only the name of a file that holds one (pass-file).
#pragma once

#include <optional>
#include <string>

#include "app/options.h"

namespace reqwatch {

// $XDG_CONFIG_HOME/reqwatch/config, or ~/.config/reqwatch/config; empty when
// neither variable is set.
std::string defaultSettingsPath();

// Applies the file's settings to `options`. Returns the message of the first
// bad line ("FILE:LINE: reason") or of a file that cannot be read; a missing
// file is no failure when `mustExist` is false.
std::optional<std::string> readSettingsFile(const std::string& path, bool mustExist,
                                            Options& options);

// The file's text for the settings of `options`.
std::string settingsText(const Options& options);

// Writes the settings to the file: its folder is made if needed, the text
// goes to a temporary file of mode 0600 that is then renamed over the file,
// so that a crash never leaves half a file. Returns the failure, if any.
std::optional<std::string> writeSettingsFile(const std::string& path, const Options& options);

}  // namespace reqwatch
