// Where the cache manager password comes from when it is not typed on the
// command line, where every user of the machine could read it: a file of
// the user's own, or the environment.
#pragma once

#include <optional>
#include <string>

namespace reqwatch {

// The password in the first line of the file (without its line end). The
// failure when the file cannot be read, is empty, or may be read or written
// by its group or others; the message says how to mend that.
struct PasswordFromFile {
    std::string password;
    std::optional<std::string> failure;
};
PasswordFromFile readPasswordFile(const std::string& path);

// REQWATCH_PASSWORD, when it is set and not empty.
std::optional<std::string> passwordFromEnvironment();

}  // namespace reqwatch
