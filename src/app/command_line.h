// The command line: getopt_long over the program's short and long options.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "app/options.h"

namespace reqwatch {

// Parses the arguments in order into `options`. Returns no value when the run
// goes on, or the exit status when the command line ends the process (0 after
// the usage text, 1 after a bad port or refresh interval). Usage goes to `out`,
// option errors to `err`; getopt_long writes its own diagnostics to stderr.
std::optional<int> parseCommandLine(int argc, char** argv, Options& options, std::ostream& out,
                                    std::ostream& err);

void printUsage(const std::string& invokedAs, std::ostream& out);

// A TCP port from 1 to 65535, converted as parseInteger converts; throws the
// conversion's text, or "Port should be from 1 to 65535".
std::int32_t parsePort(const std::string& text);

}  // namespace reqwatch
